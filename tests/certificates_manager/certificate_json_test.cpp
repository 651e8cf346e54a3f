#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "certificates_manager/cert_parser/cert_parser.h"
#include "tests/support/certificate_builder.h"

namespace {

ivo::Certificate Parsed(const test::CertificateSpec& spec) {
  ivo::Certificate record;
  EXPECT_EQ(ivo::ParseServerCertificate(nullptr, test::MakeDer(spec), record), 0);
  return record;
}

TEST(CertificateToJson, SevenMembersInOrderCompactWithOneNewline) {
  test::CertificateSpec spec;
  spec.serial = {0x01};
  spec.notBefore = "20311224080500Z";
  spec.notAfter = "20491231235959Z";
  const ivo::Certificate record = Parsed(spec);
  const std::string json = ivo::CertificateToJson(record);
  EXPECT_EQ(json,
            "{\"Subject\":\"CN=Test Server, O=Test Org\",\"Issuer\":\"CN=Test Server, O=Test Org\","
            "\"SerialNumber\":\"01\",\"IssuingDate\":\"2031-12-24T08:05:00Z\","
            "\"ExpirationDate\":\"2049-12-31T23:59:59Z\",\"Sha1\":\"" +
                ivo::ToHexString(record.sha1) + "\",\"Sha256\":\"" + ivo::ToHexString(record.sha256) + "\"}\n");
}

TEST(CertificateToJson, DatesIgnoreTheLocalTimeZone) {
  test::CertificateSpec spec;
  spec.notAfter = "20491231235959Z";
  const ivo::Certificate record = Parsed(spec);
  const char* saved = std::getenv("TZ");
  const std::string savedTz = saved ? saved : "";
  ::setenv("TZ", "America/New_York", 1);
  ::tzset();
  const std::string json = ivo::CertificateToJson(record);
  saved ? ::setenv("TZ", savedTz.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
  EXPECT_NE(json.find("\"ExpirationDate\":\"2049-12-31T23:59:59Z\""), std::string::npos);
}

TEST(CertificateToJson, EscapesSlashesAndDoublesTheBackslashesOfByteEscapes) {
  test::CertificateSpec spec;
  spec.subject = {{"CN", "path/to \"x\""}, {"O", "Caf\xC3\xA9"}};
  const std::string json = ivo::CertificateToJson(Parsed(spec));
  // X509_NAME_print writes "/" inside a value as "\/" and non-ASCII bytes as
  // \xHH; the JSON writer then escapes every backslash, "/" and quote.
  EXPECT_NE(json.find("\"Subject\":\"CN=path\\\\\\/to \\\"x\\\", O=Caf\\\\xC3\\\\xA9\""), std::string::npos) << json;
}

}  // namespace
