#include "certificates_manager/certificate_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(CertificateTypes, KeysSettingsAndEventsAreAllDistinct) {
  std::set<std::string> keys;
  std::set<std::uint32_t> settings, events;
  for (ivo::CertificateType type = 1; type <= 4; ++type) {
    keys.insert(ivo::GetStorageKey(type));
    settings.insert({ivo::GetServerSettingId(type), ivo::GetClientSettingId(type)});
    const auto server = ivo::GetServerEventTypes(type);
    const auto client = ivo::GetClientEventTypes(type);
    events.insert({server.added, server.removed, client.added, client.removed});
  }
  EXPECT_EQ(keys.size(), 4u);
  EXPECT_EQ(settings.size(), 8u);
  EXPECT_EQ(events.size(), 16u);
  EXPECT_EQ(events.count(146u), 0u);  // CertificateExpired is shared by all
}

TEST(CertificateTypes, ValuesOutsideTheTableHaveNamesButAreInvalid) {
  EXPECT_STREQ(ivo::GetCertificateTypeName(0), "unknown");
  EXPECT_STREQ(ivo::GetCertificateTypeName(5), "invalid");
  EXPECT_STREQ(ivo::GetCertificateTypeName(0xFFFFFFFF), "invalid");
  for (ivo::CertificateType type : {0u, 5u, 0xFFFFFFFFu}) EXPECT_FALSE(ivo::IsValidCertificateType(type));
  for (ivo::CertificateType type : {1u, 2u, 3u, 4u}) EXPECT_TRUE(ivo::IsValidCertificateType(type));
}

}  // namespace
