// ConvertDerToPem on any bytes, into an output that may hold bytes already.
#include "certificates_manager/cert_parser/cert_parser.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ozo::blob_t out;
  if (size % 2) out.assign("prefix", 6);
  (void)ivo::ConvertDerToPem(nullptr, ozo::blob_t(data, size), out);
  return 0;
}
