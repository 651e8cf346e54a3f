#include "tools/certctl/lib/output.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <utility>

#include "host/storage/journal_records.h"
#include "ivo/certificate_type_table.h"
#include "ivo/events.h"
#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/files.h"
#include "tools/certctl/lib/terminal_text.h"
#include "tools/certctl/lib/unicode.h"

namespace certctl {

namespace {

bool Hex(char c, int& value) {
  if (c >= '0' && c <= '9') return value = c - '0', true;
  if (c >= 'A' && c <= 'F') return value = c - 'A' + 10, true;
  if (c >= 'a' && c <= 'f') return value = c - 'a' + 10, true;
  return false;
}

// The byte of "\xHH" at `at`, or -1.
int EscapedByte(const std::string& text, std::size_t at) {
  int high = 0, low = 0;
  if (at + 4 > text.size() || text[at] != '\\' || text[at + 1] != 'x' || !Hex(text[at + 2], high) ||
      !Hex(text[at + 3], low))
    return -1;
  return high * 16 + low;
}

// Whether `bytes` is valid UTF-8 made only of characters above ASCII (what
// the component escapes).
bool ValidUtf8(const std::string& bytes) {
  for (std::size_t at = 0, length = 0; at < bytes.size(); at += length)
    if (DecodeUtf8(bytes, at, length) < 0x80 || length == 0) return false;
  return true;
}

}  // namespace

std::string Utf8Name(const std::string& name) {
  std::string out;
  for (std::size_t at = 0; at < name.size();) {
    std::string run;
    std::size_t end = at;
    for (int byte; (byte = EscapedByte(name, end)) >= 0; end += 4) run += static_cast<char>(byte);
    if (run.empty()) {
      out += name[at++];
      continue;
    }
    out += ValidUtf8(run) ? run : name.substr(at, end - at);
    at = end;
  }
  return out;
}

std::string EventName(std::uint32_t eventType) {
  if (eventType == ivo::CertificateExpiredEvent) return "CertificateExpired";
  if (eventType == host::kOperationRecord) return "Operation";
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
      {host::operation_field::Operation, "Operation"},
      {host::operation_field::Slot, "Slot"},
      {host::operation_field::Detail, "Detail"},
  };
  for (const auto& [id, name] : names)
    if (id == fieldId) return name;
  return "Field" + std::to_string(fieldId);
}

namespace {

std::string JsonLine(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"; }

}  // namespace

void PrintJson(const Json& json) { std::cout << JsonLine(json); }

void ReportFailure(const RunOptions& global, const std::string& message, int exitStatus) {
  if (global.json)
    std::cerr << JsonLine({{"error", message}, {"exit", exitStatus}});
  else
    PrintFailure(message);
}

namespace {

// What fits in `width` terminal columns: the text, or its start and "…".
std::string Fitted(const std::string& text, std::size_t width) {
  if (DisplayWidth(text) <= width) return text;
  std::size_t at = 0, used = 0;
  while (at < text.size()) {
    std::size_t length = 0;
    DecodeUtf8(text, at, length);
    length = length ? length : 1;
    const std::size_t columns = DisplayWidth(std::string_view(text).substr(at, length));
    if (used + columns > width - 1) break;
    used += columns;
    at += length;
  }
  return text.substr(0, at) + "\u2026";
}

}  // namespace

void PrintTable(const std::vector<std::vector<std::string>>& given, std::size_t widest) {
  std::vector<std::vector<std::string>> rows = given;
  for (auto& row : rows)
    for (std::string& cell : row) cell = Printable(cell);
  std::vector<std::size_t> widths;
  for (const auto& row : rows)
    for (std::size_t c = 0; c + 1 < row.size(); ++c) {  // a row's last cell is not padded
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], std::min(DisplayWidth(row[c]), widest));
    }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c + 1 == row.size()) {
        line += row[c];
        break;
      }
      const std::string cell = Fitted(row[c], widest);
      line += cell + std::string(widths[c] - DisplayWidth(cell) + 2, ' ');
    }
    std::cout << line << "\n";
  }
}

void Announce(const RunOptions& global, const std::string& message, const Json& facts) {
  if (message.empty()) return;
  if (!global.json) {
    std::cout << Printable(message) << "\n";
  } else if (facts.is_object()) {
    Json said = facts;
    said["message"] = message;
    PrintJson(said);
  }
}

void WriteOutput(const std::string& path, const void* data, std::size_t size, mode_t mode) {
  if (path.empty() || path == "-")
    std::cout.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  else
    WriteWholeFile(path, data, size, mode);
}

}  // namespace certctl
