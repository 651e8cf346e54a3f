#include "tools/certctl/lib/terminal_text.h"

#include <cstdint>
#include <cstdio>
#include <iterator>

#include "tools/certctl/lib/unicode.h"

namespace certctl {
namespace {

// Characters of general category Cf (format), Zl and Zp that terminals and
// text layout act on without showing them: bidi embeddings, overrides and
// isolates, zero-width characters, the byte order mark, tags.
constexpr std::pair<std::uint32_t, std::uint32_t> kInvisible[] = {
    {0x00AD, 0x00AD}, {0x061C, 0x061C}, {0x180E, 0x180E}, {0x200B, 0x200F},   {0x2028, 0x202E},  {0x2060, 0x2064},
    {0x2066, 0x206F}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F}};

bool Escaped(std::uint32_t point) {
  if (point < 0x20 || (point >= 0x7F && point <= 0x9F)) return true;
  for (const auto& [first, last] : kInvisible)
    if (point >= first && point <= last) return true;
  return false;
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 0;
    const std::uint32_t point = DecodeUtf8(text, at, length);
    char escape[16];
    if (length == 0 || (length == 1 && Escaped(point))) {
      std::snprintf(escape, sizeof(escape), "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(text[at])));
      out += escape;
      ++at;
      continue;
    }
    if (Escaped(point)) {
      std::snprintf(escape, sizeof(escape), point > 0xFFFF ? "\\U%08x" : "\\u%04x", static_cast<unsigned>(point));
      out += escape;
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

}  // namespace certctl
