#include "ozo/util/anyptr_helpers.h"

#include <gtest/gtest.h>

#include "host/service_host.h"
#include "ivo/certificate_records.h"
#include "ivo_common/tools_03.h"
#include "tests/support/recording_host.h"

namespace {

std::string Description(const ozo::exception& e) { return e.data()->description; }

TEST(GetStructDescriptor, WithoutProvidersThrowsNoMetaInfoProvider) {
  test::RecordingHost host(
      host::HostOptions::Without({host::Service::PrimaryMetaInfo, host::Service::SecondaryMetaInfo}));
  try {
    ozo::GetStructDescriptor(host.locator(), ivo::ServerCertificate::TypeId);
    FAIL() << "found";
  } catch (const ozo::exception& e) {
    EXPECT_EQ(Description(e), "No meta info provider");
    EXPECT_STREQ(e.file(), "component/ozo/util/rtl_impl/anyptr_helpers");
    EXPECT_EQ(e.line(), 61);
    EXPECT_EQ(ozo::GetExceptionResult(e), ozo::results::InterfaceNotSupported);
  }
}

TEST(GetStructDescriptor, AnUnregisteredTypeNamesItsTypeId) {
  test::RecordingHost host;
  try {
    ozo::GetStructDescriptor(host.locator(), 0x1234);
    FAIL() << "found";
  } catch (const ozo::exception& e) {
    EXPECT_EQ(Description(e), "This structure is not registered at meta info provider");
    EXPECT_EQ(e.line(), 63);
    EXPECT_EQ(std::get<std::uint64_t>(e.FindProperty("ozo.typeid")->value), 0x1234u);
    EXPECT_EQ(ozo::GetExceptionResult(e), ozo::results::MetaInformationNotFound);
  }
}

TEST(StructCast, AnotherTypeThrowsWithTheStoredTypeId) {
  test::RecordingHost host;
  auto value = tools::MakeAnyStruct(host.locator(), ivo::ServerCertificate{ozo::blob_t("x", 1)});
  EXPECT_NE(ozo::StructCast<ivo::ServerCertificate>(value), nullptr);
  try {
    ozo::StructCast<ivo::ClientCertificate>(value);
    FAIL() << "cast";
  } catch (const ozo::exception& e) {
    EXPECT_EQ(Description(e), "Containted serializable doesn`t match the requested one");
    EXPECT_EQ(e.line(), 102);
    EXPECT_EQ(std::get<std::uint64_t>(e.FindProperty("ozo.typeid")->value), ivo::ServerCertificate::TypeId);
  }
  EXPECT_THROW(ozo::StructCast<ivo::ServerCertificate>(ozo::any_struct_t()), ozo::exception);
}

TEST(StructCast, AValueWithoutObjectButTheRightTypeIsNull) {
  test::RecordingHost host;
  ozo::any_struct_t empty(nullptr, ozo::GetStructDescriptor(host.locator(), ivo::ServerCertificate::TypeId), nullptr);
  EXPECT_EQ(ozo::StructCast<ivo::ServerCertificate>(empty), nullptr);
}

TEST(MakeAnyStruct, WithoutAllocatorIsAFailedCheckAtLine28) {
  test::RecordingHost host(host::HostOptions::Without({host::Service::Allocator}));
  try {
    tools::MakeAnyStruct(host.locator(), ivo::ServerCertificate{});
    FAIL() << "made";
  } catch (const ozo::CheckResultFailedException& e) {
    EXPECT_STREQ(e.file(), "ivo_common/export/ivo_common/tools_03");
    EXPECT_EQ(e.line(), 28);
  }
}

TEST(MakeAnyStruct, AllocationFailureIsBadAlloc) {
  test::RecordingHost host;
  host.faults().FailOperation("IAllocator::Allocate", ozo::results::OutOfMemory);
  EXPECT_THROW(tools::MakeAnyStruct(host.locator(), ivo::ServerCertificate{}), std::bad_alloc);
}

}  // namespace
