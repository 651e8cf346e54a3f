#include "tools/certctl/output.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <utility>

#include "ivo/certificate_type_table.h"
#include "ivo/events.h"
#include "ozo/result_messages.h"
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

std::optional<std::int64_t> SecondsFromIso(const std::string& text) {
  for (const char* format : {"%Y-%m-%dT%H:%M:%SZ", "%Y-%m-%dT%H:%M:%S", "%Y-%m-%d"}) {
    std::tm time{};
    const char* end = strptime(text.c_str(), format, &time);
    if (end && !*end) return static_cast<std::int64_t>(timegm(&time));
  }
  return std::nullopt;
}

std::string IsoFromIntervals(std::uint64_t intervalsSince1601) {
  constexpr std::int64_t k1601To1970 = 11644473600;
  return IsoFromSeconds(static_cast<std::int64_t>(intervalsSince1601 / 10000000) - k1601To1970);
}

std::string EventName(std::uint32_t eventType) {
  if (eventType == ivo::CertificateExpiredEvent) return "CertificateExpired";
  for (const ivo::CertificateTypeIds& row : ivo::kCertificateTypeIds) {
    const std::pair<std::uint32_t, const char*> names[] = {
        {row.serverAdded, "ServerCertificateAdded"},
        {row.serverRemoved, "ServerCertificateRemoved"},
        {row.clientAdded, "ClientCertificateAdded"},
        {row.clientRemoved, "ClientCertificateRemoved"},
    };
    for (const auto& [type, suffix] : names)
      if (type == eventType) return std::string(row.eventStem) + suffix;
  }
  return "Event" + std::to_string(eventType);
}

std::string FieldName(std::uint32_t fieldId) {
  namespace field = ivo::event_field;
  const std::pair<std::uint32_t, const char*> names[] = {
      {field::Subject, "Subject"},
      {field::Issuer, "Issuer"},
      {field::SerialNumber, "SerialNumber"},
      {field::IssuingDate, "IssuingDate"},
      {field::ExpirationDate, "ExpirationDate"},
      {field::Thumbprint, "Thumbprint"},
  };
  for (const auto& [id, name] : names)
    if (id == fieldId) return name;
  return "Field" + std::to_string(fieldId);
}

void PrintJson(const Json& json) { std::cout << json.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n"; }

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], row[c].size());
    }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? row[c] + std::string(widths[c] - row[c].size() + 2, ' ') : row[c];
    std::cout << line << "\n";
  }
}

}  // namespace certctl
