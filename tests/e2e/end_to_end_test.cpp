// The built library as a host uses it: loaded with dlopen, objects created
// through ozoCreateObject, a full cycle of changes and an upgrade into a
// second store, then unloadable again.
#include <gtest/gtest.h>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "host/module.h"
#include "ivo/certificates_manager.h"
#include "ozo/module.h"
#include "tests/support/manager_fixture.h"
#include "tests/support/recording_host.h"

namespace {

using ozo::ref_ptr;
namespace results = ozo::results;

// An object of class `classId` made by `library` on `host`, through `I`.
template <class I>
ref_ptr<I> MakeObject(const host::Module& library, ozo::clsid_t classId, test::RecordingHost& host) {
  ref_ptr<I> result;
  library.Create(classId, host.locatorAddress(), result);
  return result;
}

TEST(EndToEnd, FullCycleWithUpgradeIntoASecondStore) {
  host::Module library;
  std::string error;
  ASSERT_TRUE(library.Load(CM_LIBRARY_PATH, error)) << error;
  ASSERT_EQ(library.CanUnload(), 0);

  test::RecordingHost oldHost;
  {
    auto manager = MakeObject<ivo::ICertificatesManager>(library, ivo::ClsIdCertificatesManager, oldHost);
    ASSERT_TRUE(manager);
    EXPECT_EQ(library.CanUnload(), 1);
    ASSERT_EQ(manager->SetServerCertificate(1, ivo::ServerCertificate{test::ValidServerDer("first")}, test::User()), 0);
    ASSERT_EQ(manager->SetClientCertificate(2, ivo::ClientCertificate(test::ClientContainer("client", "pw"), "pw"),
                                            test::User()),
              0);
    ozo::string8_t json;
    ASSERT_EQ(manager->QueryServerCertificate(1, json), 0);
    EXPECT_NE(json.view().find("CN=first"), std::string_view::npos);
    ASSERT_EQ(manager->SetServerCertificate(1, ivo::ServerCertificate{test::ValidServerDer("second")}, test::User()),
              0);
    ASSERT_EQ(manager->SetServerCertificate(3, ivo::ServerCertificate{test::ValidServerPem("third")}, test::User()), 0);
    ASSERT_EQ(manager->RemoveServerCertificate(3, test::User()), 0);
    std::vector<std::uint32_t> types;
    for (const auto& event : oldHost.events().events().items()) types.push_back(event.eventType);
    EXPECT_EQ(types, (std::vector<std::uint32_t>{155, 205, 156, 155, 223, 224}));
  }
  EXPECT_EQ(library.CanUnload(), 0);

  test::RecordingHost newHost;
  {
    auto upgrader = MakeObject<app_core::facade::upgrade::IPersistentDataUpgrader>(
        library, app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader, newHost);
    ASSERT_TRUE(upgrader);
    EXPECT_EQ(upgrader->Upgrade(oldHost.store(), newHost.store()), 0);
  }
  {
    auto manager = MakeObject<ivo::ICertificatesManager>(library, ivo::ClsIdCertificatesManager, newHost);
    ASSERT_TRUE(manager);
    ozo::string8_t json;
    ASSERT_EQ(manager->QueryServerCertificate(1, json), 0);
    EXPECT_NE(json.view().find("CN=second"), std::string_view::npos);
    ivo::ClientCertificate client;
    ASSERT_EQ(manager->GetClientCertificate(2, client), 0);
    EXPECT_EQ(client.password, std::string_view("pw"));
    ivo::ServerCertificate gone;
    EXPECT_EQ(manager->GetServerCertificate(3, gone), results::NotFound);
  }
  EXPECT_EQ(library.CanUnload(), 0);
}

}  // namespace
