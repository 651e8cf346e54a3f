// Expected values computed by the openssl command-line tool, never by the
// code under test.
#pragma once

#include <string>

#include "tests/support/process.h"

namespace test {

struct OpensslView {
  bool ok = false;      // openssl could read a certificate
  std::string subject;  // X509_NAME_print form (-text -nameopt compat)
  std::string issuer;
  std::string serialHex;  // magnitude in upper-case hex, two digits per byte, spaced
  std::string notBefore;  // "YYYY-MM-DDTHH:MM:SSZ"
  std::string notAfter;
  std::string sha1;  // "AA BB ..."
  std::string sha256;
};

// `openssl x509` on a certificate file (DER or PEM).
OpensslView DescribeCertificateFile(const std::string& path, bool der);

// The certificate `openssl pkcs12 -clcerts` finds in a container, described
// as above. The password reaches openssl through the environment.
OpensslView DescribePkcs12File(const std::string& path, const std::string& password, bool legacy);

}  // namespace test
