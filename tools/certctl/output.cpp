#include "tools/certctl/output.h"

#include <cstdio>
#include <ctime>

#include "ozo/result/result_messages.h"
#include "tools/certctl/errors.h"

namespace certctl {

std::string DescribeResult(ozo::result_t result) {
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08x", static_cast<std::uint32_t>(result));
  return std::string(code) + " (" + std::string(ozo::GetResultMessage(result)) + ")";
}

std::string IsoFromSeconds(std::int64_t seconds) {
  if (seconds == -1) return "unknown";
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (!gmtime_r(&time, &utc)) return "invalid";
  char text[40];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string IsoFromIntervals(std::uint64_t intervalsSince1601) {
  constexpr std::int64_t k1601To1970 = 11644473600;
  return IsoFromSeconds(static_cast<std::int64_t>(intervalsSince1601 / 10000000) - k1601To1970);
}

std::string EventName(std::uint32_t eventType) {
  struct Name {
    std::uint32_t type;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {146, "CertificateExpired"},
      {155, "ZepaEdrServerCertificateAdded"},
      {156, "ZepaEdrServerCertificateRemoved"},
      {157, "ZepaEdrClientCertificateAdded"},
      {158, "ZepaEdrClientCertificateRemoved"},
      {207, "SandboxServerCertificateAdded"},
      {208, "SandboxServerCertificateRemoved"},
      {205, "SandboxClientCertificateAdded"},
      {206, "SandboxClientCertificateRemoved"},
      {223, "ZepaNdrServerCertificateAdded"},
      {224, "ZepaNdrServerCertificateRemoved"},
      {225, "ZepaNdrClientCertificateAdded"},
      {226, "ZepaNdrClientCertificateRemoved"},
      {232, "MiruServerCertificateAdded"},
      {233, "MiruServerCertificateRemoved"},
      {230, "MiruClientCertificateAdded"},
      {231, "MiruClientCertificateRemoved"},
  };
  for (const Name& name : kNames)
    if (name.type == eventType) return name.name;
  return "Event" + std::to_string(eventType);
}

std::string FieldName(std::uint32_t fieldId) {
  switch (fieldId) {
    case 103:
      return "Subject";
    case 104:
      return "Issuer";
    case 134:
      return "SerialNumber";
    case 135:
      return "IssuingDate";
    case 106:
      return "ExpirationDate";
    case 145:
      return "Thumbprint";
    default:
      return "Field" + std::to_string(fieldId);
  }
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof(escape), "\\u%04X", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace certctl
