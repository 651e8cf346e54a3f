#include "host/lifecycle/trust.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <string_view>

#include "ossl/pkcs12.h"
#include "ossl/text.h"

namespace host::lifecycle {

using ossl::UniquePtr;

namespace results = ozo::results;

namespace {

bool IsCa(X509* certificate) { return (X509_get_extension_flags(certificate) & EXFLAG_CA) != 0; }

std::string_view Bytes(const ozo::blob_t& blob) {
  return std::string_view(reinterpret_cast<const char*>(blob.data()), blob.size());
}

}  // namespace

TrustAnchors IssuedAnchors(ivo::ICertificatesManager& manager, ivo::PeerType type, const std::string& trusted,
                           const std::string& origin) {
  TrustAnchors anchors;
  const std::string keyword = type.keyword();
  if (!trusted.empty()) {
    anchors.certificates = ossl::ReadCertificates(trusted);
    anchors.origin = origin;
    return anchors;
  }
  ivo::ServerCertificate server;
  if (ozo::Succeeded(manager.GetServerCertificate(type, server)))
    for (UniquePtr<X509>& each : ossl::ReadCertificates(Bytes(server.certificate)))
      if (IsCa(each.get())) anchors.certificates.push_back(std::move(each));
  anchors.origin = "the stored " + keyword + " server certificate";
  if (!anchors.certificates.empty()) return anchors;
  ivo::ClientCertificate client;
  ossl::Container container;
  if (ozo::Succeeded(manager.GetClientCertificate(type, client)) &&
      ossl::OpenContainer(Bytes(client.certificate), client.password.c_str(), container) ==
          ossl::ContainerProblem::None)
    for (UniquePtr<X509>& each : container.others)
      if (IsCa(each.get())) anchors.certificates.push_back(std::move(each));
  anchors.origin = "the CA certificates of the " + keyword + " client container";
  return anchors;
}

std::vector<UniquePtr<X509>> ProtectionAnchors(ivo::ICertificatesManager& manager, ivo::PeerType type,
                                               const std::string& trusted) {
  if (!trusted.empty()) return ossl::ReadCertificates(trusted);
  ivo::ServerCertificate server;
  if (ozo::Failed(manager.GetServerCertificate(type, server))) return {};
  return ossl::ReadCertificates(Bytes(server.certificate));
}

UniquePtr<X509_STORE> IssuedCertificateStore(const std::vector<X509*>& anchors) {
  UniquePtr<X509_STORE> store(X509_STORE_new());
  if (!store) return nullptr;
  for (X509* anchor : anchors)
    if (!X509_STORE_add_cert(store.get(), anchor)) return nullptr;
  if (!X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN) ||
      !X509_STORE_set_purpose(store.get(), X509_PURPOSE_SSL_CLIENT))
    return nullptr;
  return store;
}

std::string CaCertificateProblem(X509* certificate) {
  return X509_get_extension_flags(certificate) & EXFLAG_CA
             ? "it is a CA certificate (basic constraints CA:TRUE), which no client slot takes"
             : "";
}

bool SpeaksForTheCa(X509* signer) {
  if (X509_get_extension_flags(signer) & EXFLAG_CA) return true;
  const UniquePtr<EXTENDED_KEY_USAGE> purposes(
      static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(signer, NID_ext_key_usage, nullptr, nullptr)));
  for (int i = 0; purposes && i < sk_ASN1_OBJECT_num(purposes.get()); ++i) {
    const int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(purposes.get(), i));
    if (nid == NID_cmcRA || nid == NID_cmcCA) return true;
  }
  return false;
}

ozo::result_t VerifyIssued(X509* certificate, const std::vector<X509*>& untrusted, const TrustAnchors& anchors,
                           std::int64_t now, std::vector<UniquePtr<X509>>& chain, std::string& error) {
  chain.clear();
  if (std::string problem = CaCertificateProblem(certificate); !problem.empty()) {
    error = std::move(problem);
    return results::Prohibited;
  }
  if (anchors.certificates.empty()) {
    error = "nothing says which CA may issue it";
    return results::InvalidState;
  }
  const UniquePtr<X509_STORE> store = IssuedCertificateStore(ossl::Borrowed(anchors.certificates));
  const UniquePtr<STACK_OF(X509)> others = ossl::CertificateStack(untrusted);
  const UniquePtr<X509_STORE_CTX> context(X509_STORE_CTX_new());
  if (!store || !others || !context || !X509_STORE_CTX_init(context.get(), store.get(), certificate, others.get())) {
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
            (code == X509_V_ERR_INVALID_PURPOSE ? " (it is not for TLS client authentication)" : "");
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

}  // namespace host::lifecycle
