// Real certificates and containers from other projects' test suites (listed
// in tests/data/vectors.txt), each decoded by the component and compared
// with what the openssl tool reports.
#include <gtest/gtest.h>
#include <openssl/err.h>

#include <filesystem>
#include <iomanip>
#include <sstream>

#include "certificates_manager/cert_parser/cert_parser.h"
#include "tests/support/certificate_builder.h"
#include "tests/support/openssl_cli.h"
#include "tests/support/process.h"

namespace {

enum class Kind { DerServer, PemServer, Client };

struct Vector {
  std::string file;
  Kind kind;
  std::string password;  // client containers
  bool legacy;           // needs the legacy provider
  bool decodes;
};

// The table of tests/data/vectors.txt.
std::vector<Vector> Vectors() {
  std::vector<Vector> vectors;
  std::istringstream table(test::ReadWholeFile(CM_VECTOR_TABLE));
  for (std::string line; std::getline(table, line);) {
    std::istringstream words(line);
    std::string kind, legacy, decodes;
    Vector v;
    if (line.empty() || line[0] == '#' || !(words >> v.file >> kind >> std::quoted(v.password) >> legacy >> decodes))
      continue;
    v.kind = kind == "der" ? Kind::DerServer : kind == "pem" ? Kind::PemServer : Kind::Client;
    v.legacy = legacy == "legacy";
    v.decodes = decodes == "decodes";
    vectors.push_back(v);
  }
  return vectors;
}

void PrintTo(const Vector& v, std::ostream* out) { *out << v.file; }

std::string NameOf(const testing::TestParamInfo<Vector>& info) {
  std::string name = info.param.file;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name + (info.param.kind == Kind::Client ? "_client" : "") + (info.param.decodes ? "" : "_refused");
}

// Skips, saying where the vectors were looked for, when they are absent: a
// clone of the project alone has none.
class VectorTest : public testing::TestWithParam<Vector> {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(test::VectorsDir()))
      GTEST_SKIP() << "no test vectors in " + test::VectorsDir() + " (set CM_VECTORS_DIR)";
  }
};

TEST_P(VectorTest, DecodesAsOpensslDoes) {
  ERR_clear_error();
  const Vector& v = GetParam();
  const std::string path = test::VectorPath(v.file);
  const ozo::blob_t blob = test::ReadFile(path);
  ivo::Certificate record;
  const ozo::result_t result = v.kind == Kind::Client
                                   ? ivo::ParseClientCertificate(nullptr, blob, v.password.c_str(), record)
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

INSTANTIATE_TEST_SUITE_P(Shared, VectorTest, testing::ValuesIn(Vectors()), NameOf);

}  // namespace
