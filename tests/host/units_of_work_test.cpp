// Units of work with real threads on the SQLite store: a unit belongs to the
// thread that began it. Another thread's change through the component waits
// for the unit and outlives its rollback; another thread reads only what is
// committed.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "tests/support/lifecycle_fixture.h"
#include "tests/support/manager_fixture.h"

namespace {

namespace lifecycle = host::lifecycle;

class UnitsOfWork : public test::LifecycleTest {
 protected:
  const ivo::PeerType kOther = *ivo::PeerType::From(2);
  lifecycle::SqliteLifecycleStore m_rows{*m_sqlite};
  lifecycle::RenewalConfig m_config = [] {
    lifecycle::RenewalConfig config;
    config.server = "http://ca.test/";
    return config;
  }();
};

TEST_F(UnitsOfWork, AnotherThreadsChangeWaitsForTheUnitAndOutlivesItsRollback) {
  const std::string anchor = m_ca.Pem();
  std::promise<void> begun;
  std::thread unit([&] {
    ASSERT_EQ(m_sqlite->BeginWork(), 0);
    EXPECT_EQ(m_rows.PutRenewalConfig(kType, m_config), 0);
    begun.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the change below waits meanwhile
    m_sqlite->RollbackWork();
  });
  begun.get_future().wait();
  EXPECT_FALSE(m_sqlite->InWork()) << "the unit is the other thread's";
  EXPECT_EQ(m_manager->SetServerCertificate(kOther, ivo::ServerCertificate{ozo::blob_t(anchor.data(), anchor.size())},
                                            test::User()),
            0);
  unit.join();
  ivo::ServerCertificate stored;
  EXPECT_EQ(m_manager->GetServerCertificate(kOther, stored), 0) << "the change outlived the unit's rollback";
  EXPECT_EQ(m_rows.GetRenewalConfig(kType, m_config), ozo::results::NotFound) << "the unit's own change went";
}

TEST_F(UnitsOfWork, AnotherThreadReadsOnlyWhatIsCommitted) {
  std::promise<void> begun, read;
  std::thread unit([&] {
    ASSERT_EQ(m_sqlite->BeginWork(), 0);
    EXPECT_EQ(m_rows.PutRenewalConfig(kType, m_config), 0);
    lifecycle::RenewalConfig seen;
    EXPECT_EQ(m_rows.GetRenewalConfig(kType, seen), 0) << "the unit's thread sees its change";
    begun.set_value();
    read.get_future().wait();
    EXPECT_EQ(m_sqlite->CommitWork(), 0);
  });
  begun.get_future().wait();
  lifecycle::RenewalConfig seen;
  EXPECT_EQ(m_rows.GetRenewalConfig(kType, seen), ozo::results::NotFound);
  read.set_value();
  unit.join();
  EXPECT_EQ(m_rows.GetRenewalConfig(kType, seen), 0);
  EXPECT_EQ(seen.server, m_config.server);
}

}  // namespace
