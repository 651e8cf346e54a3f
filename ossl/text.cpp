#include "ossl/text.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>

namespace ossl {
namespace {

std::string Text(const ASN1_STRING* value) {
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                     static_cast<std::size_t>(ASN1_STRING_length(value)));
}

bool Blank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

}  // namespace

std::string MemoryText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return length > 0 && data ? std::string(data, static_cast<std::size_t>(length)) : "";
}

std::string PemOf(const std::vector<X509*>& certificates) {
  return Written([&](BIO* bio) {
    for (X509* certificate : certificates)
      if (!PEM_write_bio_X509(bio, certificate)) return 0;
    return 1;
  });
}

UniquePtr<BIO> ReadOnlyBio(std::string_view bytes) {
  return UniquePtr<BIO>(bytes.size() <= INT_MAX ? BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()))
                                                : nullptr);
}

std::vector<UniquePtr<X509>> ReadCertificates(std::string_view bytes, bool* trailing, bool* pem) {
  std::vector<UniquePtr<X509>> certificates;
  const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* next = begin;
  const unsigned char* end = begin + bytes.size();
  while (next < end) {
    const unsigned char* start = next;
    UniquePtr<X509> certificate(d2i_X509(nullptr, &next, end - next));
    if (!certificate) {
      next = start;
      break;
    }
    certificates.push_back(std::move(certificate));
  }
  bool rest = !certificates.empty() && next < end, asPem = false;
  if (certificates.empty()) {
    const UniquePtr<BIO> bio = ReadOnlyBio(bytes);
    while (UniquePtr<X509> certificate{bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr})
      certificates.push_back(std::move(certificate));
    static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    const std::size_t last = bytes.rfind(kEnd);
    asPem = !certificates.empty();
    rest = asPem && (last == std::string_view::npos || !Blank(bytes.substr(last + kEnd.size())));
  }
  ERR_clear_error();
  if (trailing) *trailing = rest;
  if (pem) *pem = asPem;
  return certificates;
}

std::optional<std::int64_t> SecondsOf(const ASN1_TIME* time) {
  std::tm parts{};
  if (!time || ASN1_TIME_to_tm(time, &parts) != 1) return std::nullopt;
  return static_cast<std::int64_t>(timegm(&parts));
}

std::string IsoFromSeconds(std::int64_t seconds) {
  if (seconds == -1) return "unknown";
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (!gmtime_r(&time, &utc)) return "invalid";
  char text[40];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string NameText(const X509_NAME* name) {
  const unsigned long flags = XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_FN_SN | (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  return Written([&](BIO* bio) { return X509_NAME_print_ex(bio, name, 0, flags) >= 0 ? 1 : 0; });
}

std::string AlternativeNameText(const GENERAL_NAME* name) {
  switch (name->type) {
    case GEN_DNS:
      return "DNS:" + Text(name->d.dNSName);
    case GEN_EMAIL:
      return "email:" + Text(name->d.rfc822Name);
    case GEN_URI:
      return "URI:" + Text(name->d.uniformResourceIdentifier);
    case GEN_IPADD: {
      const int length = ASN1_STRING_length(name->d.iPAddress);
      char text[INET6_ADDRSTRLEN] = "";
      if (length != 4 && length != 16) return "IP:?";
      inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(name->d.iPAddress), text, sizeof(text));
      return std::string("IP:") + text;
    }
    case GEN_DIRNAME:
      return "DirName:" + NameText(name->d.directoryName);
    default:
      return "other name";
  }
}

std::string KeyText(EVP_PKEY* key) {
  char group[64] = "";
  std::size_t length = 0;
  const int type = EVP_PKEY_get_base_id(key);
  std::string text =
      type == EVP_PKEY_RSA ? "RSA " + std::to_string(EVP_PKEY_get_bits(key))
      : type == EVP_PKEY_EC && EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof(group), &length)
          ? std::string("EC ") + (std::string(group) == "prime256v1" ? "P-256" : group)
          : OBJ_nid2sn(type);
  const std::string spki = DerOf(key, i2d_PUBKEY);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (spki.empty() || !EVP_Digest(spki.data(), spki.size(), digest, &digestLength, EVP_sha256(), nullptr)) return text;
  text += " SHA256";
  for (unsigned int i = 0; i < 8; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), ":%02x", digest[i]);
    text += hex;
  }
  return text;
}

std::string SerialHex(const X509* certificate) {
  const UniquePtr<BIGNUM> serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr));
  const Memory<char> hex(serial ? BN_bn2hex(serial.get()) : nullptr);
  return hex ? hex.get() : "";
}

}  // namespace ossl
