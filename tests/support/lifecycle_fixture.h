// The client certificate's lifecycle under test: a store in a temporary
// folder with the component's manager over it, the installed test doubles
// (an in-process CA, a lifecycle store that fails on demand), and the
// library's seams (the store's steps, the CA, the trial, the hook, the
// clock) in the test's hands, each of which can be made to fail.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "host/lifecycle/store.h"
#include "host/storage/sqlite_store.h"
#include "host/testing/faulty_lifecycle_store.h"
#include "host/testing/in_process_ca.h"
#include "host/testing/temporary_store.h"
#include "host/testing/test_ca.h"
#include "ivo/certificate_type_table.h"
#include "ivo/certificates_manager.h"
#include "ossl/holders.h"
#include "ozo/module.h"

namespace test {

using host::testing::FaultyLifecycleStore;
using host::testing::InProcessCa;
using host::testing::NewTestKey;
using host::testing::TestCa;
using host::testing::Usages;

class LifecycleTest : public testing::Test {
 protected:
  static constexpr ivo::PeerType kType = *ivo::PeerType::From(1);  // edr
  // The run's clock: now, since the component judges stored certificates
  // by the system's.
  const std::int64_t kNow = std::time(nullptr);

  LifecycleTest();
  ~LifecycleTest() override;

  // What the slot holds: its client certificate's serial (hex), "" when
  // empty.
  std::string SlotSerial();
  // The pending key's state: "" when none, "key" or "key+certificate".
  std::string Pending();
  host::lifecycle::RenewalState State();
  // Stores a pair of the CA's for the slot, ending `days` from kNow.
  void StorePair(int days = 90);

  host::testing::TemporaryStore m_temporary{&ozoCreateObject};
  host::SqliteStore* m_sqlite = &m_temporary.store();
  ozo::ref_ptr<ivo::ICertificatesManager> m_manager{&m_temporary.manager()};
  std::unique_ptr<FaultyLifecycleStore> m_store;
  TestCa m_ca{"Test CA"};
  InProcessCa m_authority{m_ca, kNow};
};

}  // namespace test
