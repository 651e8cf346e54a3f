// ParseClientCertificate: the first byte is the password's length, then the
// password, then the container.
#include "certificates_manager/cert_parser/cert_parser.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::string password = input.Bytes(input.Byte());
  const ozo::blob_t container = fuzz::BlobOf(input.Rest());
  ivo::Certificate record;
  const ozo::result_t result =
      ivo::ParseClientCertificate(nullptr, container, ozo::string8_t(password.data(), password.size()), record);
  if (ozo::Succeeded(result)) (void)ivo::CertificateToJson(record);
  return 0;
}
