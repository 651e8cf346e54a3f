// Decoding against the OpenSSL floor: the work any implementation must do
// for a 2048-bit RSA certificate.
#include <openssl/buffer.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "bench/ratio_reporter.h"
#include "certificates_manager/cert_parser/cert_parser.h"
#include "certificates_manager/cert_parser/openssl_holders.h"
#include "tests/support/certificate_builder.h"

namespace {

using ivo::openssl::UniquePtr;

test::CertificateSpec RsaSpec() {
  test::CertificateSpec spec;
  spec.key = test::KeyType::Rsa2048;
  spec.subject = {{"C", "US"}, {"O", "Example Corp"}, {"CN", "server.example.com"}};
  spec.issuer = test::Name{{"C", "US"}, {"O", "Example Corp"}, {"CN", "Example Issuing CA"}};
  spec.serial = {0x4A, 0x3F, 0x11, 0x09, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0x10, 0x20, 0x30, 0x40};
  return spec;
}

const ozo::blob_t& Der() {
  static const ozo::blob_t der = test::MakeDer(RsaSpec());
  return der;
}
const ozo::blob_t& Pem() {
  static const ozo::blob_t pem = test::MakePem(RsaSpec());
  return pem;
}
const ozo::blob_t& Container(test::Pkcs12Encryption encryption) {
  auto make = [](test::Pkcs12Encryption e) {
    test::Pkcs12Spec spec;
    spec.certificate = RsaSpec();
    spec.encryption = e;
    spec.iterations = 2048;
    return test::MakePkcs12(spec);
  };
  static const ozo::blob_t modern = make(test::Pkcs12Encryption::Modern);
  static const ozo::blob_t legacy = make(test::Pkcs12Encryption::Legacy);
  return encryption == test::Pkcs12Encryption::Modern ? modern : legacy;
}

std::size_t PrintName(const X509_NAME* name) {
  UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  X509_NAME_print(bio.get(), name, 0);
  BUF_MEM* buffer = nullptr;
  BIO_ctrl(bio.get(), BIO_C_GET_BUF_MEM_PTR, 0, &buffer);
  return buffer->length;
}

// The floor: decoding, both names printed, both digests, both times.
void Floor(benchmark::State& state) {
  for (auto _ : state) {
    const unsigned char* bytes = Der().data();
    UniquePtr<X509> certificate(d2i_X509(nullptr, &bytes, static_cast<long>(Der().size())));
    benchmark::DoNotOptimize(PrintName(X509_get_subject_name(certificate.get())));
    benchmark::DoNotOptimize(PrintName(X509_get_issuer_name(certificate.get())));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate.get(), EVP_sha1(), digest, &length);
    X509_digest(certificate.get(), EVP_sha256(), digest, &length);
    std::tm time{};
    ASN1_TIME_to_tm(X509_get0_notBefore(certificate.get()), &time);
    ASN1_TIME_to_tm(X509_get0_notAfter(certificate.get()), &time);
    benchmark::DoNotOptimize(time);
  }
}
BENCHMARK(Floor);

void Pkcs12ParseFloor(benchmark::State& state) {
  for (auto _ : state) {
    const ozo::blob_t& blob = Container(test::Pkcs12Encryption::Modern);
    UniquePtr<BIO> bio(BIO_new_mem_buf(blob.data(), static_cast<int>(blob.size())));
    UniquePtr<PKCS12> container(d2i_PKCS12_bio(bio.get(), nullptr));
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    PKCS12_parse(container.get(), "secret", &key, &certificate, nullptr);
    EVP_PKEY_free(key);
    X509_free(certificate);
  }
}
BENCHMARK(Pkcs12ParseFloor);

void ParseServerDer(benchmark::State& state) {
  for (auto _ : state) {
    ivo::Certificate record;
    benchmark::DoNotOptimize(ivo::ParseServerCertificate(nullptr, Der(), record));
  }
}
BENCHMARK(ParseServerDer);

void ParseServerPem(benchmark::State& state) {
  for (auto _ : state) {
    ivo::Certificate record;
    benchmark::DoNotOptimize(ivo::ParseServerCertificate(nullptr, Pem(), record));
  }
}
BENCHMARK(ParseServerPem);

void ConvertDerToPem(benchmark::State& state) {
  for (auto _ : state) {
    ozo::blob_t out;
    benchmark::DoNotOptimize(ivo::ConvertDerToPem(nullptr, Der(), out));
  }
}
BENCHMARK(ConvertDerToPem);

void ParseClientModern(benchmark::State& state) {
  for (auto _ : state) {
    ivo::Certificate record;
    benchmark::DoNotOptimize(
        ivo::ParseClientCertificate(nullptr, Container(test::Pkcs12Encryption::Modern), "secret", record));
  }
}
BENCHMARK(ParseClientModern);

void ParseClientLegacy(benchmark::State& state) {
  for (auto _ : state) {
    ivo::Certificate record;
    benchmark::DoNotOptimize(
        ivo::ParseClientCertificate(nullptr, Container(test::Pkcs12Encryption::Legacy), "secret", record));
  }
}
BENCHMARK(ParseClientLegacy);

void CertificateToJson(benchmark::State& state) {
  ivo::Certificate record;
  ivo::ParseServerCertificate(nullptr, Der(), record);
  for (auto _ : state) benchmark::DoNotOptimize(ivo::CertificateToJson(record));
}
BENCHMARK(CertificateToJson);

}  // namespace

int main(int argc, char** argv) {
  // Inputs are made (keys generated) before anything is timed.
  Der();
  Pem();
  Container(test::Pkcs12Encryption::Modern);
  Container(test::Pkcs12Encryption::Legacy);
  return bench::RunWithRatios(argc, argv,
                              {{"ParseServerDer", "Floor", 1.03},
                               {"ParseServerPem", "Floor", 0},
                               {"ConvertDerToPem", "Floor", 0},
                               {"CertificateToJson", "Floor", 0.08},
                               {"ParseClientModern", "Pkcs12ParseFloor", 0},
                               {"ParseClientLegacy", "ParseClientModern", 1.05}}) == 0
             ? 0
             : 1;
}
