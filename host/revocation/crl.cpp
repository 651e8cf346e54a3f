// Revocation by CRLs, as OpenSSL's own chain verification applies them.
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <map>

#include "host/revocation/revocation.h"

namespace host::revocation {
namespace {

// What each depth's verification said: every error at that depth, in order.
struct DepthErrors {
  std::map<int, std::vector<int>> found;
};

int NoteError(int ok, X509_STORE_CTX* context) {
  if (!ok) {
    auto* errors = static_cast<DepthErrors*>(X509_STORE_CTX_get_app_data(context));
    errors->found[X509_STORE_CTX_get_error_depth(context)].push_back(X509_STORE_CTX_get_error(context));
  }
  return 1;  // go on: every depth gets its verdict
}

// A revocation stands when nothing but the CRL's age was wrong with it: a
// revocation is final, so a stale CRL still proves one, but a CRL whose
// signature or issuer does not hold proves nothing.
bool RevocationStands(const std::vector<int>& errors) {
  for (const int code : errors)
    if (code != X509_V_ERR_CERT_REVOKED && code != X509_V_ERR_CRL_HAS_EXPIRED) return false;
  return std::find(errors.begin(), errors.end(), X509_V_ERR_CERT_REVOKED) != errors.end();
}

}  // namespace

X509_CRL* CrlOfIssuer(const std::vector<UniquePtr<X509_CRL>>& crls, X509* certificate) {
  for (const UniquePtr<X509_CRL>& crl : crls)
    if (X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), X509_get_issuer_name(certificate)) == 0) return crl.get();
  return nullptr;
}

std::vector<CertificateRevocation> CrlVerdicts(const std::vector<X509*>& chain, int anchorDepth,
                                               const std::vector<UniquePtr<X509_CRL>>& crls) {
  const UniquePtr<X509_STORE> store(X509_STORE_new());
  X509_STORE_add_cert(store.get(), chain[anchorDepth]);
  for (const UniquePtr<X509_CRL>& crl : crls) X509_STORE_add_crl(store.get(), crl.get());
  X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
  X509_STORE_set_verify_cb(store.get(), NoteError);
  const UniquePtr<STACK_OF(X509)> untrusted =
      CertificateStack(std::vector<X509*>(chain.begin() + 1, chain.begin() + anchorDepth + 1));
  DepthErrors errors;
  const UniquePtr<X509_STORE_CTX> context(X509_STORE_CTX_new());
  if (context && X509_STORE_CTX_init(context.get(), store.get(), chain.front(), untrusted.get())) {
    X509_STORE_CTX_set_app_data(context.get(), &errors);
    X509_verify_cert(context.get());
  }
  ERR_clear_error();
  std::vector<CertificateRevocation> verdicts;
  for (int depth = 0; depth < anchorDepth; ++depth) {
    X509* certificate = chain[depth];
    CertificateRevocation verdict;
    verdict.depth = depth;
    verdict.subject = ossl::NameText(X509_get_subject_name(certificate));
    X509_CRL* crl = CrlOfIssuer(crls, certificate);
    if (crl && X509_CRL_get0_nextUpdate(crl)) verdict.nextUpdate = SecondsOf(X509_CRL_get0_nextUpdate(crl));
    const std::vector<int>& found = errors.found[depth];
    const int code = found.empty() ? X509_V_OK : found.front();
    const std::string stale =
        "the CRL is stale: its next update was due " + ossl::IsoFromSeconds(verdict.nextUpdate.value_or(0));
    if (code == X509_V_OK) {
      verdict.status = RevocationStatus::Good;
    } else if (RevocationStands(found)) {
      verdict.status = RevocationStatus::Revoked;
      if (std::find(found.begin(), found.end(), X509_V_ERR_CRL_HAS_EXPIRED) != found.end()) verdict.problem = stale;
      X509_REVOKED* entry = nullptr;
      if (crl && X509_CRL_get0_by_cert(crl, &entry, certificate) == 1 && entry) {
        verdict.revokedAt = SecondsOf(X509_REVOKED_get0_revocationDate(entry));
        const UniquePtr<ASN1_STRING> reason(
            static_cast<ASN1_STRING*>(X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr)));
        if (reason) verdict.reason = OCSP_crl_reason_str(ASN1_ENUMERATED_get(reason.get()));
      }
    } else {
      verdict.status = RevocationStatus::Unknown;
      verdict.problem = code == X509_V_ERR_UNABLE_TO_GET_CRL ? "no CRL of its issuer"
                        : code == X509_V_ERR_CRL_HAS_EXPIRED
                            ? stale
                            : std::string("the CRL is not accepted: ") + X509_verify_cert_error_string(code);
    }
    verdicts.push_back(std::move(verdict));
  }
  ERR_clear_error();
  return verdicts;
}

}  // namespace host::revocation
