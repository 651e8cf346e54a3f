#include "host/status.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "ozo/result_messages.h"

namespace host {

std::string ResultText(ozo::result_t result) {
  // The component's own codes, which the framework's message table (and so
  // the component's trace) does not name.
  static const std::pair<ozo::result_t, const char*> kComponentCodes[] = {
      {ozo::results::CertificateOutOfValidityPeriod, "Certificate outside its validity period"},
  };
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08x", static_cast<std::uint32_t>(result));
  std::string message(ozo::GetResultMessage(result));
  for (const auto& [known, name] : kComponentCodes)
    if (known == result) message = name;
  return std::string(code) + " (" + message + ")";
}

}  // namespace host
