// Recursive copy of a storage subtree.
#pragma once

#include <cstdint>

#include "ozo/storage.h"

namespace ozo::storage {

// Creates child `name` of `destination` in `*child`. `numericValue` is the
// decimal value of a numeric name (meaningless otherwise).
using AppendChildFn = result_t (*)(IStorage* destination, cstr8_t name, IStorage** child, std::uint32_t numericValue);

// Copies the children (recursively) and then the named values of `source`
// into `destination`, each in ascending index order, then the unnamed text
// value when it is not empty. With `checkNumericNames`, a name made only of
// the digits 0-9 whose value is not below the source's children plus values
// fails the copy with "Out of range" (values too large for 32 bits count as
// out of range). The first failure stops the copy and is returned; what was
// copied stays. Otherwise the last success code. Traces nothing.
result_t Copy(IStorage* source, IStorage* destination, AppendChildFn appendChild, bool checkNumericNames);

}  // namespace ozo::storage
