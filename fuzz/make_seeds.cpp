// Writes the seed corpora of the fuzz targets, made with the tests'
// certificate builder: run `make_fuzz_seeds DIR` (scripts/fuzz.sh --seeds).
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/certificate_builder.h"

namespace {

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Short(std::size_t value) {
  return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "fuzz/corpus";
  test::CertificateParams rsa;
  rsa.key = test::KeyType::Rsa2048;
  rsa.subject = {{"CN", "seed/rsa"}, {"O", "Caf\xC3\xA9"}};
  test::CertificateParams ec;
  ec.serial = {0x00, 0xFF};
  ec.notBefore = "16000101000000Z";
  const std::string derRsa = test::StringOf(test::MakeDer(rsa));
  const std::string derEc = test::StringOf(test::MakeDer(ec));
  const std::string pem = test::StringOf(test::MakePem(rsa));
  test::Pkcs12Params modern;
  modern.password = "pw";
  modern.iterations = 1;
  modern.caCertificates = 1;
  test::Pkcs12Params legacy = modern;
  legacy.encryption = test::Pkcs12Encryption::Legacy;
  const std::string p12 = test::StringOf(test::MakePkcs12(modern));
  const std::string p12Legacy = test::StringOf(test::MakePkcs12(legacy));

  for (const char* target : {"parse_server", "der_to_pem"}) {
    const std::string base = dir + "/" + target + "/";
    Write(base + "der-rsa", derRsa);
    Write(base + "der-ec-1600", derEc);
    Write(base + "pem", "text before\n" + pem);
  }
  Write(dir + "/parse_client/modern", "\x02pw" + p12);
  Write(dir + "/parse_client/legacy", "\x02pw" + p12Legacy);
  Write(dir + "/parse_client/empty-password", "\x00" + p12);
  // set server (policy), replace, query, pem, set client, query client, remove both.
  const std::string program = std::string("\x02\x00", 2) + Short(derEc.size()) + derEc + std::string("\x00\x00", 2) +
                              Short(derRsa.size()) + derRsa + "\x01" + std::string("\x07\x00\x05\x00", 4) +
                              std::string("\x03\x01", 2) + Short(p12.size()) + p12 + "\x02pw" +
                              std::string("\x08\x01\x09\x00\x01\x0a\x01\x02", 8);
  Write(dir + "/manager/cycle", program);
  Write(dir + "/manager/invalid-types", std::string("\x04\x05\x07\x06\x0b\x07", 6));
  // Restore: edits of a real store's backup (table, operation, row, column,
  // value): settings for no type, a request and a CA no command writes, a
  // failure count at its limit, a pending key of no type and one unreadable.
  Write(dir + "/restore/as-made", std::string("\x01", 1));
  Write(dir + "/restore/hostile-rows",
        std::string("\x01"
                    "\x07\x00\x00\x00\x00\x01\x00"      // renewal_configs: type 0
                    "\x07\x01\x00\x00\x00\x01\x09"      // a copy of type 100000
                    "\x07\x00\x00\x00\x02\x05\x02"      // command 'ir'
                    "\x07\x00\x00\x00\x01\x05\x04"      // server file:///etc/passwd
                    "\x08\x00\x00\x00\x03\x01\x0a"      // renewal_states: failures INT64_MAX
                    "\x06\x01\x00\x00\x00\x01\x06"      // pending_keys: a copy of type 9
                    "\x06\x00\x00\x00\x02\x04\x03\x00"  // its key: 3 bytes
                    "abc",
                    54));
  std::printf("seeds written to %s\n", dir.c_str());
  return 0;
}
