#include "host/service_host.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/recording_host.h"

namespace {

using ozo::ref_ptr;

TEST(ServiceHost, LeftOutServicesAreNotSupportedAndCanBeRestored) {
  test::RecordingHost host(host::HostOptions::Without({host::Service::EventPublisher}));
  ref_ptr<ivo::IEventPublisher> publisher;
  EXPECT_EQ(ozo::GetInterface(host.locator(), publisher), ozo::results::InterfaceNotSupported);
  host.Restore(host::Service::EventPublisher);
  EXPECT_EQ(ozo::GetInterface(host.locator(), publisher), 0);
  EXPECT_EQ(publisher.get(), &host.events());
}

TEST(ServiceHost, LookupsFailPerInterfaceId) {
  test::RecordingHost host;
  host.faults().FailOperation("IServiceLocator::GetInterface/64e90a4e", ozo::results::AccessDenied);
  ref_ptr<ivo::IPolicyProvider> policy;
  ref_ptr<ozo::ITracer> tracer;
  EXPECT_EQ(ozo::GetInterface(host.locator(), policy), ozo::results::AccessDenied);
  EXPECT_EQ(ozo::GetInterface(host.locator(), tracer), 0);
  EXPECT_EQ(host.faults().calls(), 2u);
}

TEST(ServiceHost, FailsTheNthCallCountedAcrossServices) {
  test::RecordingHost host;
  host.faults().FailCall(2, ozo::results::MediaError);
  EXPECT_EQ(host.storageRoot()->Flush(), 0);
  EXPECT_EQ(host.storageRoot()->Flush(), ozo::results::MediaError);
  EXPECT_EQ(host.storageRoot()->Flush(), 0);
}

TEST(ServiceHost, PolicyRefusesLockedSettingsOnly) {
  test::RecordingHost host;
  host.policy().SetSettingLocked(0xAF09109F, true);
  ivo::PolicyChangeQuery query;
  query.settingId = 0xAF09109F;
  EXPECT_EQ(host.policy().CheckChangePermission(&query, nullptr), ozo::results::AccessDenied);
  query.settingId = 0xED92BD79;
  EXPECT_EQ(host.policy().CheckChangePermission(&query, nullptr), 0);
  EXPECT_EQ(host.policy().queries().size(), 2u);
}

TEST(ServiceHost, PublisherKeepsCopiesOfEvents) {
  test::RecordingHost host;
  ivo::CertificateEvent event;
  event.eventType = 155;
  event.fields.push_back({103, ozo::types::variant_t::FromString8("CN=x")});
  ASSERT_EQ(host.events().Publish(&event), 0);
  event.fields.clear();
  ASSERT_EQ(host.events().events().size(), 1u);
  EXPECT_EQ(host.events().events()[0].fields.size(), 1u);
}

TEST(ServiceHost, StorageMutexRecordsKindsAndNesting) {
  test::RecordingHost host;
  auto& mutex = host.storageMutex();
  mutex.lock_shared();
  mutex.unlock_shared();
  mutex.lock();
  mutex.unlock();
  EXPECT_EQ(mutex.acquisitions(), (std::vector<host::StorageMutex::Kind>{host::StorageMutex::Kind::Shared,
                                                                         host::StorageMutex::Kind::Exclusive}));
  EXPECT_EQ(mutex.nestedAcquisitions(), 0u);
  mutex.lock_shared();
  std::thread other([&] {
    mutex.lock_shared();
    mutex.unlock_shared();
  });
  other.join();
  EXPECT_EQ(mutex.nestedAcquisitions(), 0u);  // other threads do not count as nesting
  EXPECT_TRUE(mutex.try_lock_shared());       // same thread again: nested
  mutex.unlock_shared();
  mutex.unlock_shared();
  EXPECT_EQ(mutex.nestedAcquisitions(), 1u);
}

TEST(ServiceHost, UncommittedTraceBuffersAreFreedWithTheTracer) {
  test::RecordingHost host;
  char* buffer = nullptr;
  ASSERT_EQ(host.tracer().ReserveBuffer(300, &buffer, 64), 0);
  // Never committed: the tracer frees it when it goes (checked by the leak checkers).
}

}  // namespace
