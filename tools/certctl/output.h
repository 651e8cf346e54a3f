// How the tool shows results: result codes, dates and event names.
#pragma once

#include <cstdint>
#include <string>

namespace certctl {

// "YYYY-MM-DDTHH:MM:SSZ" of a count of 100-ns intervals since 1601.
std::string IsoFromIntervals(std::uint64_t intervalsSince1601);
// "YYYY-MM-DDTHH:MM:SSZ" of seconds since 1970 ("unknown" for -1).
std::string IsoFromSeconds(std::int64_t seconds);

// The event enumeration's name of an event type the manager publishes.
std::string EventName(std::uint32_t eventType);
std::string FieldName(std::uint32_t fieldId);

// A JSON string literal of `text` (quotes included).
std::string JsonString(const std::string& text);

}  // namespace certctl
