// Text from certificates and peers, made safe to show on a terminal.
#pragma once

#include <string>

namespace certctl {

// `text` (UTF-8, from a certificate, a container or a peer) with every
// character a terminal would act on or hide escaped, so a name can neither
// move the cursor, clear the screen, start a new line nor reorder what
// follows it: C0 controls and DEL as "\x1b", C1 controls as "\u009b", bidi
// and other invisible format characters as "\u202e" (above U+FFFF as
// "\U000e0001"), and bytes that are not UTF-8 as "\xff". Everything else,
// including the text's own backslashes, stays as it is. For text output
// only: JSON escapes by its own rules.
std::string Printable(const std::string& text);

}  // namespace certctl
