#include "tools/certctl/lib/dates.h"

#include <cctype>
#include <ctime>
#include <utility>

namespace certctl {

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
  return IsoFromSeconds(static_cast<std::int64_t>(intervalsSince1601 / 10000000) + kEpoch1601);
}

std::optional<std::int64_t> SecondsFromIso(const std::string& text) {
  for (const char* format : {"%Y-%m-%dT%H:%M:%SZ", "%Y-%m-%dT%H:%M:%S", "%Y-%m-%d"}) {
    std::tm time{};
    const char* end = strptime(text.c_str(), format, &time);
    if (end && !*end) return static_cast<std::int64_t>(timegm(&time));
  }
  return std::nullopt;
}

std::optional<std::int64_t> SecondsFromMoment(const std::string& text, std::int64_t now) {
  static const std::pair<char, std::int64_t> kUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}, {'w', 604800}};
  if (text.size() >= 2 && text.size() <= 10 && std::isdigit(static_cast<unsigned char>(text[0]))) {
    const std::string digits = text.substr(0, text.size() - 1);
    for (const auto& [unit, seconds] : kUnits)
      if (text.back() == unit && digits.find_first_not_of("0123456789") == std::string::npos)
        return now - std::stoll(digits) * seconds;
  }
  std::string iso = text;
  if (iso.size() > 10 && iso[10] == ' ') iso[10] = 'T';
  // An offset east of UTC is that much later than UTC there: subtracted.
  std::int64_t offset = 0;
  if (iso.size() == 25 && (iso[19] == '+' || iso[19] == '-') && iso[22] == ':') {
    const std::string hours = iso.substr(20, 2), minutes = iso.substr(23, 2);
    if ((hours + minutes).find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    offset = (iso[19] == '+' ? 1 : -1) * (std::stoll(hours) * 3600 + std::stoll(minutes) * 60);
    iso = iso.substr(0, 19) + "Z";
  }
  const std::optional<std::int64_t> seconds = SecondsFromIso(iso);
  return seconds ? std::optional<std::int64_t>(*seconds - offset) : std::nullopt;
}

std::int64_t DaysUntil(std::int64_t seconds, std::int64_t now) {
  const std::int64_t left = seconds - now;
  return left >= 0 ? left / 86400 : -((-left + 86399) / 86400);
}

}  // namespace certctl
