#include <gtest/gtest.h>

#include <cstdlib>

#include "certificates_manager/certificate_events.h"
#include "ozo/error_handling/exception.h"
#include "tests/support/manager_fixture.h"

namespace {

using ozo::types::VariantTag;
using test::ManagerTest;

constexpr std::uint64_t k1601To1970 = 116444736000000000ull;

class ManagerEventTest : public ManagerTest {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    m_hadTz = tz != nullptr;
    if (tz) m_tz = tz;
    ::setenv("TZ", "UTC", 1);  // event dates are read as local time
    ::tzset();
    CreateOrFail();
  }
  void TearDown() override {
    m_hadTz ? ::setenv("TZ", m_tz.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }

 private:
  bool m_hadTz = false;
  std::string m_tz;
};

TEST_F(ManagerEventTest, CarriesTheSixCertificateFieldsInOrder) {
  const std::int64_t before = std::time(nullptr);
  ASSERT_EQ(SetServer(1, test::ValidServerDer("fields")), 0);
  ASSERT_EQ(Events().size(), 1u);
  const ivo::CertificateEvent event = Events()[0];
  EXPECT_EQ(event.reserved, 0u);
  EXPECT_EQ(event.severity, 4u);
  EXPECT_GE(event.time, before);
  EXPECT_TRUE(event.additionalFields.empty());
  ASSERT_EQ(event.fields.size(), 6u);
  const std::uint32_t ids[] = {103, 104, 134, 135, 106, 145};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(event.fields[i].name, ids[i]);
  EXPECT_EQ(event.fields[0].data.string8(), std::string_view("CN=fields, O=Test Org"));
  EXPECT_EQ(event.fields[1].data.string8(), std::string_view("CN=Test CA"));
  EXPECT_EQ(event.fields[2].data.string8(), std::string_view("0A FF 00"));
  EXPECT_EQ(event.fields[3].data.tag(), VariantTag::DateTime);
  EXPECT_EQ(event.fields[3].data.datetime(), 1577836800ull * 10000000 + k1601To1970);  // 2020-01-01
  EXPECT_EQ(event.fields[4].data.datetime(), 4102444800ull * 10000000 + k1601To1970);  // 2100-01-01
  EXPECT_EQ(event.fields[5].data.tag(), VariantTag::String8);
  EXPECT_EQ(event.fields[5].data.string8().size(), 59u);
}

TEST(CertificateEventFields, AnEmptySerialIsStillPresentAsEmptyText) {
  ivo::Certificate certificate;
  certificate.notBefore.tm_year = 120;
  certificate.notBefore.tm_mday = 1;
  certificate.notAfter = certificate.notBefore;
  ivo::CertificateEvent event;
  ivo::FillCertificateEventFields(event, certificate);
  ASSERT_EQ(event.fields.size(), 6u);
  EXPECT_EQ(event.fields[2].name, 134u);
  EXPECT_TRUE(event.fields[2].data.string8().empty());
}

TEST(CertificateEventFields, ADateBefore1601RaisesTheTimeError) {
  ivo::Certificate certificate;
  certificate.notBefore.tm_year = 1500 - 1900;
  certificate.notBefore.tm_mday = 1;
  certificate.notAfter = certificate.notBefore;
  ivo::CertificateEvent event;
  EXPECT_THROW(ivo::FillCertificateEventFields(event, certificate), ozo::datetime::TimeSystemError);
}

}  // namespace
