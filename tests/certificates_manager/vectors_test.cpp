// Real certificates and containers from other projects' test suites, each
// decoded by the component and compared with what the openssl tool reports.
#include <gtest/gtest.h>
#include <openssl/err.h>

#include <filesystem>

#include "certificates_manager/cert_parser/cert_parser.h"
#include "tests/support/certificate_builder.h"
#include "tests/support/openssl_cli.h"

namespace {

enum class Kind { DerServer, PemServer, Client };

struct Vector {
  const char* file;
  Kind kind;
  const char* password;  // client containers
  bool legacy;           // needs the legacy provider
  bool decodes;
};

std::string NameOf(const testing::TestParamInfo<Vector>& info) {
  std::string name = info.param.file;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name + (info.param.kind == Kind::Client ? "_client" : "");
}

// Skips, saying where the vectors were looked for, when they are absent: a
// clone of the project alone has none.
class WithVectors {
 protected:
  static bool Absent() { return !std::filesystem::is_directory(test::VectorsDir()); }
  static std::string Where() { return "no test vectors in " + test::VectorsDir() + " (set CM_VECTORS_DIR)"; }
};

class VectorTest : public testing::TestWithParam<Vector>, protected WithVectors {
 protected:
  void SetUp() override {
    if (Absent()) GTEST_SKIP() << Where();
  }
};

TEST_P(VectorTest, DecodesAsOpensslDoes) {
  ERR_clear_error();
  const Vector& v = GetParam();
  const std::string path = test::VectorPath(v.file);
  const ozo::blob_t blob = test::ReadFile(path);
  ivo::Certificate record;
  const ozo::result_t result = v.kind == Kind::Client ? ivo::ParseClientCertificate(nullptr, blob, v.password, record)
                                                      : ivo::ParseServerCertificate(nullptr, blob, record);
  if (!v.decodes) {
    EXPECT_EQ(result, ozo::results::ExceptionHasNoResultCode);
    return;
  }
  ASSERT_EQ(result, 0);
  const test::OpensslView expected = v.kind == Kind::Client
                                         ? test::DescribePkcs12File(path, v.password, v.legacy)
                                         : test::DescribeCertificateFile(path, v.kind == Kind::DerServer);
  ASSERT_TRUE(expected.ok) << "openssl cannot read " << path;
  EXPECT_EQ(record.subject, expected.subject);
  EXPECT_EQ(record.issuer, expected.issuer);
  EXPECT_EQ(ivo::ToHexString(record.serialNumber), expected.serialHex);
  EXPECT_EQ(ivo::ToHexString(record.sha1), expected.sha1);
  EXPECT_EQ(ivo::ToHexString(record.sha256), expected.sha256);
  const std::string json = ivo::CertificateToJson(record);
  if (record.notBefore.tm_year >= 0) {  // openssl pads year 0; strftime does not
    EXPECT_NE(json.find("\"IssuingDate\":\"" + expected.notBefore + "\""), std::string::npos) << json;
  }
  EXPECT_NE(json.find("\"ExpirationDate\":\"" + expected.notAfter + "\""), std::string::npos) << json;
}

INSTANTIATE_TEST_SUITE_P(
    Shared, VectorTest,
    testing::Values(Vector{"pkits_utc_notbefore_1950.der", Kind::DerServer, nullptr, false, true},
                    Vector{"pkits_gentime_notafter_2050.der", Kind::DerServer, nullptr, false, true},
                    Vector{"pkits_expired_1999.der", Kind::DerServer, nullptr, false, true},
                    Vector{"pkits_serial_minus1.der", Kind::DerServer, nullptr, false, true},
                    Vector{"pkits_serial_00ff.der", Kind::DerServer, nullptr, false, true},
                    Vector{"pkits_serial_20_bytes.der", Kind::DerServer, nullptr, false, true},
                    Vector{"pkits_optional_attr_types.der", Kind::DerServer, nullptr, false, true},
                    Vector{"pkits_whitespace_in_names.der", Kind::DerServer, nullptr, false, true},
                    Vector{"pkits_dsa_ca.der", Kind::DerServer, nullptr, false, true},
                    Vector{"bssl_ecdsa_p256_until_4026.der", Kind::DerServer, nullptr, false, true},
                    Vector{"bssl_der_with_trailing_certs.der", Kind::DerServer, nullptr, false, true},
                    Vector{"rust_cms_pubkey_until_2292.der", Kind::DerServer, nullptr, false, true},
                    Vector{"gnutls_invalid_utf8_name.der", Kind::DerServer, nullptr, false, false},
                    Vector{"gnutls_invalid_date_month.der", Kind::DerServer, nullptr, false, false},
                    Vector{"gnutls_garbage_24_bytes.der", Kind::DerServer, nullptr, false, false},
                    Vector{"gnutls_garbage_24_bytes.der", Kind::Client, "x", false, false},
                    Vector{"bssl_serial_negative.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"bssl_serial_zero.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"bssl_serial_37_bytes.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"bssl_serial_not_minimal.pem", Kind::PemServer, nullptr, false, false},
                    Vector{"bssl_t61_punctuation.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"bssl_t61_control_chars.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"bssl_data_after_signature.pem", Kind::PemServer, nullptr, false, false},
                    Vector{"bssl_missing_signature.pem", Kind::PemServer, nullptr, false, false},
                    Vector{"bssl_crl_and_ca_block_first.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"bssl_two_certs_text_between.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"bssl_year_0000.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"bssl_mldsa_leaf.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"limbo_negative_serial.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"limbo_explicit_ec_params.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"limbo_crlf_three_certs.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_utf8_greek_emoji.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_very_long_dn.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_multi_value_rdn.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_commas_in_values.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_text_before_utf8_quotes.crt", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_trailing_spaces.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_fractional_seconds.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_utctime_offset.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_ed25519_until_9999.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"gnutls_cve_2019_3829.pem", Kind::PemServer, nullptr, false, false},
                    Vector{"gnutls_crl_only.pem", Kind::PemServer, nullptr, false, false},
                    Vector{"gnutls_uid_only_expired.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"rust_slash_in_cn.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"rust_bmpstring_name.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"pyca_chain_with_garbage.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"pyca_chain_with_garbage.pem", Kind::Client, "", false, false},
                    Vector{"pyca_old_x509_header.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"cpython_nullbyte_cn.pem", Kind::PemServer, nullptr, false, true},
                    Vector{"bssl_openssl_rc2_3des.p12", Kind::Client, "foo", true, true},
                    Vector{"bssl_windows.p12", Kind::Client, "foo", true, true},
                    Vector{"bssl_pbes2_aes128_sha256.p12", Kind::Client, "foo", false, true},
                    Vector{"bssl_no_encryption.p12", Kind::Client, "foo", false, true},
                    Vector{"bssl_empty_password.p12", Kind::Client, "", true, true},
                    Vector{"bssl_null_password.p12", Kind::Client, "", true, true},
                    Vector{"bssl_unicode_password.p12", Kind::Client, "Hello, \xE4\xB8\x96\xE7\x95\x8C", true, true},
                    Vector{"bssl_ber_nested.p12", Kind::Client, "", false, false},
                    Vector{"bssl_bad1.p12", Kind::Client, "foo", false, false},
                    Vector{"gnutls_aes256_with_ca.p12", Kind::Client,
                           "\xCE\xAD\xCE\xBD\xCE\xB1-\xCE\xB4\xCF\x8D\xCE\xBF", false, true},
                    Vector{"gnutls_five_certs.p12", Kind::Client, "1234", false, true},
                    Vector{"gnutls_key_only.p12", Kind::Client, "Red Hat Enterprise Linux 7.4", false, false},
                    Vector{"gnutls_null_password_3des.p12", Kind::Client, "", false, true},
                    Vector{"gnutls_mac_sha512.p12", Kind::Client, "Red Hat Enterprise Linux 7.4", true, true},
                    Vector{"gnutls_pbmac1.p12", Kind::Client, "1234", false, false},
                    Vector{"gnutls_with_crl_bag.p12", Kind::Client, "password", false, true},
                    Vector{"rust_identity_rc2_with_ca.p12", Kind::Client, "mypass", true, true},
                    Vector{"rust_java_keystore.p12", Kind::Client, "cassandra", true, true}),
    NameOf);

class Vectors : public testing::Test, protected WithVectors {};

TEST_F(Vectors, AWrongPasswordForALegacyContainerFails) {
  if (Absent()) GTEST_SKIP() << Where();
  ivo::Certificate record;
  EXPECT_EQ(ivo::ParseClientCertificate(nullptr, test::ReadFile(test::VectorPath("bssl_openssl_rc2_3des.p12")), "bar",
                                        record),
            ozo::results::ExceptionHasNoResultCode);
}

}  // namespace
