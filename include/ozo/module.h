// The two functions every component library exports.
#pragma once

#include "ozo/object.h"
#include "ozo/services.h"

extern "C" {

// Creates the object of class `classId` with the host's `*locator`. On
// success `*object` holds the new object with one reference owned by the
// caller and the result is 0; on failure `*object` is untouched. Unknown class
// ids give "Class not found" (0x80000100) without using the locator; a null
// `locator`, `*locator` or `object` gives "Invalid argument" (0x80000046).
// Never lets an exception escape.
ozo::result_t ozoCreateObject(ozo::clsid_t classId, ozo::IServiceLocator** locator, ozo::IObject** object);
using ozoCreateObjectFn = decltype(&ozoCreateObject);

// 0 when no object of the library is alive (it may be unloaded), 1 otherwise.
ozo::result_t ozoCanUnloadModule();
using ozoCanUnloadModuleFn = decltype(&ozoCanUnloadModule);
}
