// Conversions between UTF-8 and UTF-16 text (the component's strings are
// UTF-16). Implemented by the framework runtime; the reference host carries
// them too.
#pragma once

#include <string>
#include <string_view>

namespace ozo::text {

// UTF-16 to UTF-8; a surrogate pair becomes one 4-byte sequence, a lone
// surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// UTF-16 to multibyte text of the current C locale (wcrtomb); characters the
// locale cannot represent become '?'.
std::string Utf16ToLocale(std::u16string_view text);

}  // namespace ozo::text
