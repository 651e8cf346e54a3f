// Wrappers around a store and its nodes, for tests: each call enters the
// fault injector ("IStorage::<operation>", "IStorage::GetNode/index",
// "IStorage::GetValue/index", "IPersistentStorage::GetStorage",
// "IPersistentStorage::CreateStorage") before the store sees it, and every
// node handed out is wrapped too. A scheduled failure is answered at once, a
// scheduled success code (> 0) after the node's work.
#pragma once

#include "ozo/ref_ptr.h"
#include "ozo/storage.h"
#include "tests/support/intercepted_services.h"

namespace test {

ozo::ref_ptr<ozo::IStorage> InterceptNode(ozo::ref_ptr<ozo::IStorage> node, Faults faults);
ozo::ref_ptr<ozo::IPersistentStorage> InterceptStore(ozo::ref_ptr<ozo::IPersistentStorage> store, Faults faults);

}  // namespace test
