// How the tool shows results: result codes, dates and event names.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace certctl {

// "YYYY-MM-DDTHH:MM:SSZ" of a count of 100-ns intervals since 1601.
std::string IsoFromIntervals(std::uint64_t intervalsSince1601);
// "YYYY-MM-DDTHH:MM:SSZ" of seconds since 1970 ("unknown" for -1).
std::string IsoFromSeconds(std::int64_t seconds);
// Seconds since 1970 of "YYYY-MM-DD", "YYYY-MM-DDTHH:MM:SS" or
// "YYYY-MM-DDTHH:MM:SSZ" (UTC); nullopt for anything else.
std::optional<std::int64_t> SecondsFromIso(const std::string& text);

// A name as the component prints it (X509_NAME_print writes each byte of a
// non-ASCII character as \xHH), with every run of such escapes that forms
// valid UTF-8 turned back into its characters; other escapes stay as they
// are, so the text stays printable and valid UTF-8.
std::string Utf8Name(const std::string& name);

// The event enumeration's name of an event type the manager publishes.
std::string EventName(std::uint32_t eventType);
std::string FieldName(std::uint32_t fieldId);

// JSON output keeps its keys in the order they were added.
using Json = nlohmann::ordered_json;
// One line of JSON on stdout; bytes that are not UTF-8 become U+FFFD.
void PrintJson(const Json& json);

// Rows under a header, each column as wide as its widest cell, but cells
// cut to `widest` characters (ending in "…"); a row's last cell is printed
// whole and sets no width, so one long cell never pads every line.
void PrintTable(const std::vector<std::vector<std::string>>& rows, std::size_t widest = 48);

}  // namespace certctl
