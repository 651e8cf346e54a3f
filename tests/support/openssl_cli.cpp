#include "tests/support/openssl_cli.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>

namespace test {
namespace {

// The text after `label` on its line, or "" when absent.
std::string After(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  if (at == std::string::npos) return {};
  const std::size_t start = at + label.size();
  return text.substr(start, text.find('\n', start) - start);
}

std::string Spaced(std::string colonHex) {
  for (char& c : colonHex)
    if (c == ':') c = ' ';
  return colonHex;
}

// "serial=00FF" (or "-01") to the record's form: magnitude octets, spaced.
std::string SerialOf(std::string hex) {
  if (!hex.empty() && hex[0] == '-') hex.erase(0, 1);
  if (hex.size() % 2) hex.insert(0, "0");
  std::string spaced;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (i) spaced += ' ';
    spaced += hex.substr(i, 2);
  }
  return spaced;
}

// "2050-01-01 12:01:00Z" (or "...:00.6Z") to the record's whole-second form.
std::string IsoDate(const std::string& openssl) {
  std::string date = openssl;
  const std::size_t space = date.find(' ');
  if (space != std::string::npos) date[space] = 'T';
  const std::size_t fraction = date.find('.');
  if (fraction != std::string::npos) date.erase(fraction, date.size() - 1 - fraction);
  return date;
}

// A value that openssl continues over several lines with a trailing backslash.
std::string Continued(const std::string& text, const std::string& label) {
  std::string value;
  std::size_t at = text.find(label);
  if (at == std::string::npos) return value;
  at += label.size();
  for (;;) {
    const std::size_t end = text.find('\n', at);
    std::string line = text.substr(at, end - at);
    if (line.empty() || line.back() != '\\') return value + line;
    line.pop_back();
    value += line;
    at = end + 1;
  }
}

OpensslView Describe(const std::string& inputCommand) {
  OpensslView view;
  const std::string text = RunCommand(inputCommand +
                                      " | openssl x509 -noout -text -nameopt compat -serial "
                                      "-dateopt iso_8601 -startdate -enddate -fingerprint -sha1 2>/dev/null");
  const std::string sha256 = RunCommand(inputCommand + " | openssl x509 -noout -fingerprint -sha256 2>/dev/null");
  view.ok = text.find("Certificate:") != std::string::npos;
  view.subject = After(text, "        Subject: ");
  view.issuer = After(text, "        Issuer: ");
  view.serialHex = SerialOf(Continued(text, "\nserial="));
  view.notBefore = IsoDate(After(text, "notBefore="));
  view.notAfter = IsoDate(After(text, "notAfter="));
  view.sha1 = Spaced(After(text, "Fingerprint="));
  view.sha256 = Spaced(After(sha256, "Fingerprint="));
  return view;
}

}  // namespace

OpensslView DescribeCertificateFile(const std::string& path, bool der) {
  return Describe("cat '" + path + "' | openssl x509 -inform " + (der ? "DER" : "PEM") + " 2>/dev/null");
}

OpensslView DescribePkcs12File(const std::string& path, const std::string& password, bool legacy) {
  ::setenv("CM_TEST_PKCS12_PASSWORD", password.c_str(), 1);
  return Describe("openssl pkcs12 -in '" + path + "' -passin env:CM_TEST_PKCS12_PASSWORD -nokeys -clcerts" +
                  (legacy ? " -legacy" : "") + " 2>/dev/null");
}

}  // namespace test
