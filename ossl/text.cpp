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

// One DER certificate that `der` holds whole; null otherwise.
UniquePtr<X509> WholeCertificate(std::string_view der) {
  const auto* next = reinterpret_cast<const unsigned char*>(der.data());
  UniquePtr<X509> certificate(d2i_X509(nullptr, &next, static_cast<long>(der.size())));
  const bool whole = certificate && next == reinterpret_cast<const unsigned char*>(der.data() + der.size());
  return whole ? std::move(certificate) : nullptr;
}

// What the bytes after a DER certificate are, for a refusal.
std::string WhatFollows(std::string_view rest) {
  const auto* next = reinterpret_cast<const unsigned char*>(rest.data());
  const UniquePtr<EVP_PKEY> key(d2i_AutoPrivateKey(nullptr, &next, static_cast<long>(rest.size())));
  ERR_clear_error();
  return "has " + std::to_string(rest.size()) + " bytes after its DER certificate" + (key ? ": a private key" : "");
}

// The PEM anchors of `text`; see ReadAnchorFile.
std::vector<UniquePtr<X509>> ReadPemAnchors(std::string_view text, std::string& problem) {
  static constexpr std::string_view kBegin = "-----BEGIN ", kEnd = "-----END ", kDashes = "-----";
  std::vector<UniquePtr<X509>> certificates;
  for (std::size_t at = 0, block = 1;; ++block) {
    const std::size_t begin = text.find(kBegin, at);
    if (!Blank(text.substr(at, begin == std::string_view::npos ? std::string_view::npos : begin - at))) {
      problem = "has text outside its PEM blocks";
      return {};
    }
    if (begin == std::string_view::npos) break;
    const std::size_t label = begin + kBegin.size();
    const std::size_t labelEnd = text.find(kDashes, label);
    const std::string_view name = text.substr(label, labelEnd == std::string_view::npos ? 0 : labelEnd - label);
    const std::size_t end = text.find(std::string(kEnd) + std::string(name) + std::string(kDashes), label);
    if (labelEnd == std::string_view::npos || end == std::string_view::npos) {
      problem = "has a PEM block " + std::to_string(block) + " without its end";
      return {};
    }
    at = end + kEnd.size() + name.size() + kDashes.size();
    if (name != "CERTIFICATE") {
      problem = "has a block " + std::to_string(block) + " that is a " + std::string(name) + ", not a certificate";
      return {};
    }
    const UniquePtr<BIO> bio = ReadOnlyBio(text.substr(begin, at - begin));
    char *pemName = nullptr, *header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;
    const bool read = bio && PEM_read_bio(bio.get(), &pemName, &header, &data, &length) == 1;
    const Memory<char> ownedName(pemName), ownedHeader(header);
    const Memory<unsigned char> ownedData(data);
    UniquePtr<X509> certificate =
        read ? WholeCertificate(std::string_view(reinterpret_cast<const char*>(data), length)) : nullptr;
    ERR_clear_error();
    if (!certificate) {
      problem = "has a CERTIFICATE block " + std::to_string(block) + " that cannot be decoded";
      return {};
    }
    certificates.push_back(std::move(certificate));
  }
  if (certificates.empty()) problem = "holds no certificate";
  return certificates;
}

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

std::vector<UniquePtr<X509>> ReadAnchorFile(std::string_view bytes, std::string& problem) {
  problem.clear();
  if (bytes.find("-----BEGIN ") != std::string_view::npos) return ReadPemAnchors(bytes, problem);
  const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* next = begin;
  UniquePtr<X509> certificate(d2i_X509(nullptr, &next, static_cast<long>(bytes.size())));
  ERR_clear_error();
  std::vector<UniquePtr<X509>> certificates;
  if (!certificate)
    problem = "is neither PEM nor DER certificates";
  else if (const std::size_t used = static_cast<std::size_t>(next - begin); used != bytes.size())
    problem = WhatFollows(bytes.substr(used));
  else
    certificates.push_back(std::move(certificate));
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
