// ParseServerCertificate on any bytes: DER, PEM or neither.
#include "certificates_manager/cert_parser/cert_parser.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ivo::Certificate record;
  const ozo::result_t result = ivo::ParseServerCertificate(nullptr, ozo::blob_t(data, size), record);
  if (ozo::Succeeded(result)) (void)ivo::CertificateToJson(record);
  return 0;
}
