// OpenSSL's objects as text and text as OpenSSL's objects, in one place for
// the reference host and certctl: what a memory BIO holds, certificates read
// from PEM or DER, ASN.1 times, names, keys and serial numbers as people
// read them.
#pragma once

#include <openssl/x509v3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ossl/holders.h"
#include "ozo/types/blob.h"

namespace ossl {

// The bytes of a component's blob, to read without a copy.
inline std::string_view View(const ozo::blob_t& bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// What `write` (a function of a BIO, such as PEM_write_bio_X509 bound to its
// object) writes into a memory BIO; empty when it fails.
template <class Write>
std::string Written(Write write);
// The bytes a memory BIO holds.
std::string MemoryText(BIO* bio);

// The certificates as PEM, in order.
std::string PemOf(const std::vector<X509*>& certificates);

// The certificates of `bytes`: the DER certificates it starts with, else its
// PEM certificate blocks. `trailing`, when given, says whether bytes that are
// no certificate follow them (blank lines after PEM do not count), and
// `pem` whether they were PEM.
std::vector<UniquePtr<X509>> ReadCertificates(std::string_view bytes, bool* trailing = nullptr, bool* pem = nullptr);

// The certificates of a file of trust anchors, read strictly: PEM of
// CERTIFICATE blocks only, with nothing but whitespace outside them, or one
// DER certificate with no byte after it. Anything else is no anchor file:
// none, with `problem` naming what was found ("its block 2 is a PRIVATE
// KEY, not a certificate", "has 121 bytes after its DER certificate: a
// private key").
std::vector<UniquePtr<X509>> ReadAnchorFile(std::string_view bytes, std::string& problem);

// A read-only memory BIO over `bytes` (which must outlive it); null when
// they are too many for OpenSSL's int.
UniquePtr<BIO> ReadOnlyBio(std::string_view bytes);

// Seconds since 1970 of an ASN.1 time; nullopt when it cannot be read.
std::optional<std::int64_t> SecondsOf(const ASN1_TIME* time);
// "YYYY-MM-DDTHH:MM:SSZ" of seconds since 1970 ("unknown" for -1).
std::string IsoFromSeconds(std::int64_t seconds);

// A name in UTF-8, its parts in the stored order as the component prints
// them ("CN=edr.test, O=Test Org"), with RFC 2253 escapes for , + " \ < > ;.
std::string NameText(const X509_NAME* name);
// "DNS:edr.test", "IP:127.0.0.1", "email:a@b", "URI:https://x" (openssl's
// form), "DirName:CN=x", "other name".
std::string AlternativeNameText(const GENERAL_NAME* name);
// "EC P-256 SHA256:12:34:56:78:9a:bc:de:f0": a public key, by algorithm and
// the start of its SubjectPublicKeyInfo's SHA-256.
std::string KeyText(EVP_PKEY* key);
// The serial number in upper-case hex, as openssl x509 -serial prints it.
std::string SerialHex(const X509* certificate);

template <class Write>
std::string Written(Write write) {
  const UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  return bio && write(bio.get()) > 0 ? MemoryText(bio.get()) : "";
}

}  // namespace ossl
