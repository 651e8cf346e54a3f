#include "tools/certctl/lib/failure.h"

#include <iostream>

#include "tools/certctl/lib/terminal_text.h"

namespace certctl {

void PrintFailure(const std::string& message) { std::cerr << "certctl: " << Printable(message) << "\n"; }

}  // namespace certctl
