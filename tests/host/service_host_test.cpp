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

TEST(ServiceHost, UncommittedTraceBuffersAreFreedWithTheTracer) {
  test::RecordingHost host;
  char* buffer = nullptr;
  ASSERT_EQ(host.tracer().ReserveBuffer(300, &buffer, 64), 0);
  // Never committed: the tracer frees it when it goes (checked by the leak checkers).
}

}  // namespace
