// What the tool reads: certificate types, files and passwords.
#pragma once

#include <cstddef>
#include <string>

#include "host/storage/sqlite_connection.h"
#include "ivo/certificate_records.h"
#include "ozo/types/blob.h"
#include "tools/certctl/secret.h"

namespace certctl {

// The largest certificate or container file certctl reads (the largest
// value a store keeps), and the longest password: real ones are a few KiB at
// most, and a bound keeps a wrong path (/dev/zero, a disk image) from being
// read whole.
constexpr std::size_t kMaxCertificateFileBytes = host::sqlite::kMaxValueBytes;
constexpr std::size_t kMaxPasswordBytes = 4096;

// "edr", "sandbox", "ndr", "siem" (any case) or 1-4; throws Failure (usage)
// for anything else.
ivo::CertificateType ParseType(const std::string& text);
// "server" (false) or "client" (true); throws Failure (usage) for anything else.
bool ParseKind(const std::string& text);
const char* TypeKeyword(ivo::CertificateType type);

// The whole file ("-": standard input), read in blocks; throws Failure
// (usage) when it cannot be read or holds more than kMaxCertificateFileBytes
// (refused before it is read whole).
ozo::blob_t ReadFileBytes(const std::string& path);

// A password from a file (its first line; "-": standard input), an
// environment variable, or a
// prompt on the terminal without echo (restored also when a signal ends the
// process). Never from the command line itself. Refused (Failure, usage)
// over kMaxPasswordBytes.
struct PasswordSource {
  std::string file;
  std::string environment;
};
Secret ReadPassword(const PasswordSource& source, const char* prompt);

}  // namespace certctl
