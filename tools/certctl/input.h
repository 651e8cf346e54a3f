// What the tool reads: certificate types, files and passwords.
#pragma once

#include <string>

#include "ivo/certificate_records.h"
#include "ozo/types/basic_string.h"
#include "ozo/types/blob.h"

namespace certctl {

// "edr", "sandbox", "ndr", "siem" (any case) or a number; throws Failure
// (usage) for anything else. Numbers outside 1-4 reach the component, which
// refuses them.
ivo::CertificateType ParseType(const std::string& text);
const char* TypeKeyword(ivo::CertificateType type);

ozo::blob_t ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const ozo::blob_t& bytes);

// A password from a file (its first line), an environment variable, or a
// prompt on the terminal without echo. Never from the command line itself.
struct PasswordSource {
  std::string file;
  std::string environment;
};
ozo::string8_t ReadPassword(const PasswordSource& source, const char* prompt);

}  // namespace certctl
