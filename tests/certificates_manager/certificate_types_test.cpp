#include "certificates_manager/certificate_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct TypeRow {
  ivo::CertificateType type;
  const char* name;
  const char* key;
  std::uint32_t serverSetting, clientSetting;
  std::uint32_t serverAdded, serverRemoved, clientAdded, clientRemoved;
};

class CertificateTypeTable : public testing::TestWithParam<TypeRow> {};

TEST_P(CertificateTypeTable, LooksUpEveryColumn) {
  const TypeRow& row = GetParam();
  EXPECT_STREQ(ivo::GetCertificateTypeName(row.type), row.name);
  EXPECT_STREQ(ivo::GetStorageKey(row.type), row.key);
  EXPECT_EQ(ivo::GetServerSettingId(row.type), row.serverSetting);
  EXPECT_EQ(ivo::GetClientSettingId(row.type), row.clientSetting);
  EXPECT_EQ(ivo::GetServerEventTypes(row.type).added, row.serverAdded);
  EXPECT_EQ(ivo::GetServerEventTypes(row.type).removed, row.serverRemoved);
  EXPECT_EQ(ivo::GetClientEventTypes(row.type).added, row.clientAdded);
  EXPECT_EQ(ivo::GetClientEventTypes(row.type).removed, row.clientRemoved);
}

INSTANTIATE_TEST_SUITE_P(Types, CertificateTypeTable,
                         testing::Values(TypeRow{1, "ZEPA EDR", "ZepaEdr", 0xAF09109F, 0xED92BD79, 155, 156, 157, 158},
                                         TypeRow{2, "Sandbox", "ZepaSandbox", 0x8B705BE9, 0xC9EBF60F, 207, 208, 205,
                                                 206},
                                         TypeRow{3, "ZEPA NDR", "ZepaNdr", 0xF3D53CC4, 0xB14E9122, 223, 224, 225, 226},
                                         TypeRow{4, "MIRU", "Siem", 0xC1E26EF6, 0x8379C310, 232, 233, 230, 231}));

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
