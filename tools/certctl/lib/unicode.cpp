#include "tools/certctl/lib/unicode.h"

#include <locale.h>
#include <wchar.h>

namespace certctl {

std::uint32_t DecodeUtf8(std::string_view text, std::size_t at, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[at]);
  length = lead < 0x80                    ? 1
           : lead >= 0xC2 && lead <= 0xDF ? 2
           : lead >= 0xE0 && lead <= 0xEF ? 3
           : lead >= 0xF0 && lead <= 0xF4 ? 4
                                          : 0;
  if (length <= 1 || at + length > text.size()) {
    if (length > 1) length = 0;
    return lead;
  }
  std::uint32_t point = lead & (0xFF >> (length + 1));
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return length = 0, lead;
    point = point << 6 | (next & 0x3F);
  }
  static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return length = 0, lead;
  return point;
}

std::size_t DisplayWidth(std::string_view text) {
  // wcwidth answers in the thread's locale: for this call, one that knows
  // Unicode, whatever the process's is (C, in scripts).
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  const locale_t previous = utf8 ? ::uselocale(utf8) : static_cast<locale_t>(nullptr);
  std::size_t width = 0;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length ? length : 1) {
    const std::uint32_t point = DecodeUtf8(text, at, length);
    const int columns = length && utf8 ? ::wcwidth(static_cast<wchar_t>(point)) : 1;
    width += columns < 0 ? 1 : static_cast<std::size_t>(columns);
  }
  if (utf8) ::uselocale(previous);
  return width;
}

}  // namespace certctl
