#include "host/lifecycle/trust.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <string_view>

#include "ossl/pkcs12.h"
#include "ossl/text.h"

namespace host::lifecycle {

using ossl::UniquePtr;

namespace results = ozo::results;

namespace {

// The certificates of `from` that may sign certificates.
std::vector<UniquePtr<X509>> Signers(std::vector<UniquePtr<X509>> from) {
  std::vector<UniquePtr<X509>> signers;
  for (UniquePtr<X509>& each : from)
    if (MaySignCertificates(each.get())) signers.push_back(std::move(each));
  return signers;
}

// `untrusted` in the order a path to an anchor is found first: those an
// anchor issued, then those they issued, and so on; the rest last, each
// group in the order given. OpenSSL builds a path from the first candidate
// issuer it meets, so a version of an intermediate signed by an anchor must
// come before one signed by a CA the slot does not trust.
std::vector<X509*> AnchoredFirst(const std::vector<X509*>& untrusted, const std::vector<X509*>& anchors) {
  std::vector<int> rank(untrusted.size(), INT_MAX);
  const auto issuedBy = [&](X509* issuer, X509* subject) { return X509_check_issued(issuer, subject) == X509_V_OK; };
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t i = 0; i < untrusted.size(); ++i) {
      int best =
          std::any_of(anchors.begin(), anchors.end(), [&](X509* a) { return issuedBy(a, untrusted[i]); }) ? 0 : INT_MAX;
      for (std::size_t j = 0; j < untrusted.size(); ++j)
        if (j != i && rank[j] < INT_MAX && issuedBy(untrusted[j], untrusted[i])) best = std::min(best, rank[j] + 1);
      if (best < rank[i]) rank[i] = best, changed = true;
    }
  }
  std::vector<std::size_t> order(untrusted.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return rank[a] < rank[b]; });
  std::vector<X509*> ordered;
  for (std::size_t i : order) ordered.push_back(untrusted[i]);
  ERR_clear_error();
  return ordered;
}

}  // namespace

bool MaySignCertificates(X509* certificate) { return X509_check_ca(certificate) != 0; }

std::string CaCertificateProblem(X509* certificate) {
  switch (X509_check_ca(certificate)) {
    case 0:
      return "";
    case 1:
      return "it is a CA certificate (basic constraints CA:TRUE), which no client slot takes";
    case 4:
      return "it may sign certificates (key usage keyCertSign), which no client slot takes";
    case 5:
      return "it may sign certificates (a Netscape CA type), which no client slot takes";
    default:
      return "it is a self-signed version 1 certificate, which OpenSSL takes for a CA's: no client slot takes it";
  }
}

TrustAnchors SlotAnchors(ivo::ICertificatesManager& manager, ivo::PeerType type, const std::string& trusted,
                         const std::string& origin) {
  TrustAnchors anchors;
  const std::string keyword = type.keyword();
  if (!trusted.empty()) {
    anchors.certificates = ossl::ReadAnchorFile(trusted, anchors.problem);
    anchors.origin = origin;
    if (!anchors.problem.empty()) anchors.problem = origin + " " + anchors.problem;
    return anchors;
  }
  ivo::ServerCertificate server;
  if (ozo::Succeeded(manager.GetServerCertificate(type, server)))
    anchors.certificates = Signers(ossl::ReadCertificates(ossl::View(server.certificate)));
  anchors.origin = "the stored " + keyword + " server certificate";
  if (!anchors.certificates.empty()) return anchors;
  ivo::ClientCertificate client;
  ossl::Container container;
  if (ozo::Succeeded(manager.GetClientCertificate(type, client)) &&
      ossl::OpenContainer(ossl::View(client.certificate), client.password.c_str(), container) ==
          ossl::ContainerProblem::None)
    anchors.certificates = Signers(std::move(container.others));
  anchors.origin = "the CA certificates of the " + keyword + " client container";
  if (anchors.certificates.empty())
    anchors.problem = "nothing says which CA may issue the " + keyword +
                      " client certificate (no CA certificate is stored as its server certificate or in its "
                      "container)";
  return anchors;
}

std::string AnchorsProblem(const TrustAnchors& anchors) {
  if (!anchors.problem.empty()) return anchors.problem;
  if (anchors.certificates.empty()) return "nothing says which CA may issue it";  // anchors made by hand
  for (const UniquePtr<X509>& each : anchors.certificates)
    if (MaySignCertificates(each.get())) return "";
  return anchors.origin + " holds no CA certificate: it cannot verify a CA";
}

bool SpeaksForTheCa(X509* signer) {
  if (MaySignCertificates(signer)) return true;
  const UniquePtr<EXTENDED_KEY_USAGE> purposes(
      static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(signer, NID_ext_key_usage, nullptr, nullptr)));
  for (int i = 0; purposes && i < sk_ASN1_OBJECT_num(purposes.get()); ++i) {
    const int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(purposes.get(), i));
    if (nid == NID_cmcRA || nid == NID_cmcCA) return true;
  }
  ERR_clear_error();
  return false;
}

ozo::result_t VerifyPath(X509* certificate, const std::vector<X509*>& untrusted, const TrustAnchors& anchors,
                         std::int64_t now, int purpose, std::vector<UniquePtr<X509>>& chain, std::string& error) {
  chain.clear();
  if (std::string problem = AnchorsProblem(anchors); !problem.empty()) {
    error = std::move(problem);
    return results::InvalidState;
  }
  const std::vector<X509*> anchorList = ossl::Borrowed(anchors.certificates);
  const UniquePtr<X509_STORE> store(X509_STORE_new());
  bool made = store && X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN) &&
              (purpose == 0 || X509_STORE_set_purpose(store.get(), purpose));
  for (X509* anchor : anchorList) made = made && X509_STORE_add_cert(store.get(), anchor);
  const UniquePtr<STACK_OF(X509)> others = ossl::CertificateStack(AnchoredFirst(untrusted, anchorList));
  const UniquePtr<X509_STORE_CTX> context(X509_STORE_CTX_new());
  if (!made || !others || !context || !X509_STORE_CTX_init(context.get(), store.get(), certificate, others.get())) {
    ERR_clear_error();
    error = "it cannot be verified: out of memory";
    return results::OutOfMemory;
  }
  X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()), static_cast<time_t>(now));
  const bool verified = X509_verify_cert(context.get()) == 1;
  ERR_clear_error();
  if (!verified) {
    const int code = X509_STORE_CTX_get_error(context.get());
    error = "it does not chain to " + anchors.origin + ": " + X509_verify_cert_error_string(code) +
            (code == X509_V_ERR_INVALID_PURPOSE && purpose == X509_PURPOSE_SSL_CLIENT
                 ? " (it is not for TLS client authentication)"
                 : "");
    return results::Prohibited;
  }
  const STACK_OF(X509)* verifiedChain = X509_STORE_CTX_get0_chain(context.get());
  for (int i = 1; i < sk_X509_num(verifiedChain); ++i) {
    X509* each = sk_X509_value(verifiedChain, i);
    if (X509_self_signed(each, 0) == 1 || !X509_up_ref(each)) break;
    chain.emplace_back(each);
  }
  return results::NoError;
}

ozo::result_t CheckValidityPeriod(X509* certificate, std::int64_t now, std::string& error) {
  const std::optional<std::int64_t> from = ossl::SecondsOf(X509_get0_notBefore(certificate));
  const std::optional<std::int64_t> to = ossl::SecondsOf(X509_get0_notAfter(certificate));
  if (!from || !to) {
    error = "its certificate's validity period cannot be read";
    return results::InvalidArgument;
  }
  if (*from > now && *to > now) {
    error = "its certificate is not valid yet: it starts " + ossl::IsoFromSeconds(*from) + ", " +
            std::to_string(*from - now) + " s after this host's clock (" + ossl::IsoFromSeconds(now) +
            "): the CA's clock is ahead of this host's, or it was signed to start later";
    return results::CertificateOutOfValidityPeriod;
  }
  if (*from > now || *to <= now) {
    error = "its certificate is valid from " + ossl::IsoFromSeconds(*from) + " to " + ossl::IsoFromSeconds(*to) +
            ", not now: the CA must sign it anew";
    return results::CertificateOutOfValidityPeriod;
  }
  return results::NoError;
}

ozo::result_t VerifyIssued(X509* certificate, const std::vector<X509*>& untrusted, const TrustAnchors& anchors,
                           std::int64_t now, std::vector<UniquePtr<X509>>& chain, std::string& error) {
  chain.clear();
  if (std::string problem = CaCertificateProblem(certificate); !problem.empty()) {
    error = std::move(problem);
    return results::Prohibited;
  }
  if (const ozo::result_t dated = CheckValidityPeriod(certificate, now, error); ozo::Failed(dated)) return dated;
  return VerifyPath(certificate, untrusted, anchors, now, X509_PURPOSE_SSL_CLIENT, chain, error);
}

}  // namespace host::lifecycle
