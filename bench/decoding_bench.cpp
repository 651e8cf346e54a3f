// Decoding against the OpenSSL floor: the work any implementation must do
// for a 2048-bit RSA certificate.

#include "bench/openssl_floor.h"
#include "bench/ratio_reporter.h"
#include "certificates_manager/cert_parser/cert_parser.h"
#include "tests/support/certificate_builder.h"

namespace {

const ozo::blob_t& Der() {
  static const ozo::blob_t der = test::MakeDer(bench::RsaSpec("server.example.com"));
  return der;
}
const ozo::blob_t& Pem() {
  static const ozo::blob_t pem = test::MakePem(bench::RsaSpec("server.example.com"));
  return pem;
}
const ozo::blob_t& Container(test::Pkcs12Encryption encryption) {
  auto make = [](test::Pkcs12Encryption e) {
    test::Pkcs12Params params;
    params.certificate = bench::RsaSpec("server.example.com");
    params.encryption = e;
    params.iterations = 2048;
    return test::MakePkcs12(params);
  };
  static const ozo::blob_t modern = make(test::Pkcs12Encryption::Modern);
  static const ozo::blob_t legacy = make(test::Pkcs12Encryption::Legacy);
  return encryption == test::Pkcs12Encryption::Modern ? modern : legacy;
}

// The floor: decoding, both names printed, both digests, both times.
void Floor(benchmark::State& state) {
  for (auto _ : state) bench::DecodeAndExtract(Der());
}
BENCHMARK(Floor);

void Pkcs12ParseFloor(benchmark::State& state) {
  for (auto _ : state) bench::ParseContainer(Container(test::Pkcs12Encryption::Modern), "secret");
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
