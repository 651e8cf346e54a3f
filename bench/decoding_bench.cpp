// Decoding against the OpenSSL floor: the work any implementation must do
// for a 2048-bit RSA certificate, each ratio measured in alternating batches.

#include "bench/openssl_floor.h"
#include "bench/paired.h"
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

void Floor() { bench::DecodeAndExtract(Der()); }

void ParseServer(const ozo::blob_t& blob) {
  ivo::Certificate record;
  ivo::ParseServerCertificate(nullptr, blob, record);
}

void ParseClient(test::Pkcs12Encryption encryption) {
  ivo::Certificate record;
  ivo::ParseClientCertificate(nullptr, Container(encryption), "secret", record);
}

}  // namespace

int main(int argc, char** argv) {
  // Inputs are made (keys generated) before anything is timed.
  Der();
  Pem();
  Container(test::Pkcs12Encryption::Modern);
  Container(test::Pkcs12Encryption::Legacy);
  ivo::Certificate parsed;
  ivo::ParseServerCertificate(nullptr, Der(), parsed);
  using test::Pkcs12Encryption;
  const int missed = bench::RunPairedGoals(
      argc, argv,
      {{"ParseServerCertificate DER/floor", [] { return bench::MeasurePaired([] { ParseServer(Der()); }, Floor); },
        1.03},
       {"ParseServerCertificate PEM/floor", [] { return bench::MeasurePaired([] { ParseServer(Pem()); }, Floor); }, 0},
       {"ConvertDerToPem/floor",
        [] {
          return bench::MeasurePaired(
              [] {
                ozo::blob_t out;
                ivo::ConvertDerToPem(nullptr, Der(), out);
              },
              Floor);
        },
        0},
       {"CertificateToJson/floor",
        [&] { return bench::MeasurePaired([&] { benchmark::DoNotOptimize(ivo::CertificateToJson(parsed)); }, Floor); },
        0.08},
       {"ParseClientCertificate/PKCS12_parse+floor",
        [] {
          return bench::MeasurePaired([] { ParseClient(Pkcs12Encryption::Modern); },
                                      [] {
                                        bench::ParseContainer(Container(Pkcs12Encryption::Modern), "secret");
                                        Floor();
                                      });
        },
        0},
       {"Legacy container/modern container",
        [] {
          return bench::MeasurePaired([] { ParseClient(Pkcs12Encryption::Legacy); },
                                      [] { ParseClient(Pkcs12Encryption::Modern); });
        },
        1.05}});
  return missed == 0 ? 0 : 1;
}
