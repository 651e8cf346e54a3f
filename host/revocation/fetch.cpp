#include "host/revocation/fetch.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <iterator>

#include "host/net/http_fetch.h"

namespace host::revocation {
namespace {

// The CRLs of `bytes`: every PEM block, else one DER CRL.
std::vector<UniquePtr<X509_CRL>> ParseCrls(const std::string& bytes) {
  std::vector<UniquePtr<X509_CRL>> crls;
  const UniquePtr<BIO> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  while (UniquePtr<X509_CRL> crl{PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr)})
    crls.push_back(std::move(crl));
  if (crls.empty()) {
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    if (UniquePtr<X509_CRL> crl{d2i_X509_CRL(nullptr, &at, static_cast<long>(bytes.size()))})
      crls.push_back(std::move(crl));
  }
  ERR_clear_error();
  return crls;
}

// The distribution point URLs of `certificate`'s CRLs.
std::vector<std::string> DistributionPoints(X509* certificate) {
  std::vector<std::string> urls;
  const UniquePtr<CRL_DIST_POINTS> points(
      static_cast<CRL_DIST_POINTS*>(X509_get_ext_d2i(certificate, NID_crl_distribution_points, nullptr, nullptr)));
  for (int i = 0; points && i < sk_DIST_POINT_num(points.get()); ++i) {
    const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
    if (!point->distpoint || point->distpoint->type != 0) continue;
    const GENERAL_NAMES* names = point->distpoint->name.fullname;
    for (int j = 0; j < sk_GENERAL_NAME_num(names); ++j) {
      const std::string text = ossl::AlternativeNameText(sk_GENERAL_NAME_value(names, j));
      if (text.rfind("URI:", 0) == 0) urls.push_back(text.substr(4));
    }
  }
  return urls;
}

// The CRLs `options` name for the chain into `facts`: the given file or
// URL, or each certificate's distribution points, the first that answers.
void FetchCrls(const std::vector<X509*>& chain, int anchorDepth, const RevocationOptions& options,
               const host::Deadline& deadline, RevocationFacts& facts) {
  facts.crlProblems.assign(static_cast<std::size_t>(anchorDepth), "");
  facts.crlSources.assign(static_cast<std::size_t>(anchorDepth), options.crl);
  facts.crlUnnamed.assign(static_cast<std::size_t>(anchorDepth), false);
  if (!options.fetchesCrls()) {
    std::string error;
    facts.crls = LoadCrls(options.crl, deadline, error);
    for (std::string& problem : facts.crlProblems) problem = error;
    return;
  }
  for (int depth = 0; depth < anchorDepth; ++depth) {
    const std::vector<std::string> urls = DistributionPoints(chain[depth]);
    if (urls.empty()) {
      facts.crlProblems[depth] = "its certificate names no CRL distribution point";
      facts.crlUnnamed[depth] = true;
    }
    for (const std::string& url : urls) {
      std::string error;
      std::vector<UniquePtr<X509_CRL>> fetched = LoadCrls(url, deadline, error);
      facts.crlSources[depth] = url;
      facts.crlProblems[depth] = fetched.empty() ? "the CRL cannot be had: " + error : "";
      for (UniquePtr<X509_CRL>& crl : fetched) facts.crls.push_back(std::move(crl));
      if (!fetched.empty()) break;
    }
  }
}

}  // namespace

OcspAnswer AskResponder(X509* certificate, X509* issuer, const host::Deadline& deadline) {
  OcspAnswer answer;
  answer.source = "OCSP";
  const UniquePtr<STACK_OF(OPENSSL_STRING)> urls(X509_get1_ocsp(certificate));
  const std::string url = urls && sk_OPENSSL_STRING_num(urls.get()) > 0 ? sk_OPENSSL_STRING_value(urls.get(), 0) : "";
  if (url.empty()) {
    answer.problem = "its certificate names no OCSP responder";
    answer.named = false;
    return answer;
  }
  answer.source = "OCSP " + url;
  answer.request.reset(OCSP_REQUEST_new());
  UniquePtr<OCSP_CERTID> id(OCSP_cert_to_id(nullptr, certificate, issuer));
  if (!answer.request || !id || !OCSP_request_add0_id(answer.request.get(), id.get())) {
    answer.problem = "no OCSP request could be made";
    ERR_clear_error();
    return answer;
  }
  id.release();  // the request owns it now
  OCSP_request_add1_nonce(answer.request.get(), nullptr, -1);
  const std::string sent = ossl::DerOf(answer.request.get(), i2d_OCSP_REQUEST);
  std::string error;
  if (ozo::Failed(host::HttpPost(url, "application/ocsp-request", sent, "application/ocsp-response", deadline,
                                 answer.response, error))) {
    answer.response.clear();
    answer.problem = "the responder cannot be reached: " + error;
  }
  return answer;
}

std::vector<UniquePtr<X509_CRL>> LoadCrls(const std::string& source, const host::Deadline& deadline,
                                          std::string& error) {
  std::string bytes;
  if (source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0) {
    if (ozo::Failed(host::HttpGet(source, deadline, bytes, error))) return {};
  } else {
    std::ifstream file(source, std::ios::binary);
    if (!file) {
      error = source + ": cannot be read";
      return {};
    }
    bytes.assign(std::istreambuf_iterator<char>(file), {});
  }
  std::vector<UniquePtr<X509_CRL>> crls = ParseCrls(bytes);
  if (crls.empty()) error = source + ": holds no CRL (neither PEM nor DER)";
  return crls;
}

RevocationFacts FetchRevocation(const std::vector<X509*>& chain, int anchorDepth, const std::string& stapled,
                                const RevocationOptions& options, const host::Deadline& deadline) {
  RevocationFacts facts;
  facts.stapled = stapled;
  if (anchorDepth <= 0 || static_cast<std::size_t>(anchorDepth) >= chain.size()) return facts;
  facts.answers.resize(static_cast<std::size_t>(anchorDepth));
  const int asked = options.ocspLeafOnly ? 1 : anchorDepth;
  for (int depth = 0; options.ocsp && depth < asked; ++depth) {
    if (depth == 0 && !stapled.empty()) {
      const CertificateRevocation settled = OcspVerdict(stapled, chain[0], chain[1], chain, chain[anchorDepth], nullptr,
                                                        "stapled OCSP", options.ocspMaxAgeSeconds);
      if (settled.status == RevocationStatus::Good || settled.status == RevocationStatus::Revoked) continue;
    }
    facts.answers[static_cast<std::size_t>(depth)] = AskResponder(chain[depth], chain[depth + 1], deadline);
  }
  if (!options.crl.empty()) FetchCrls(chain, anchorDepth, options, deadline, facts);
  return facts;
}

}  // namespace host::revocation
