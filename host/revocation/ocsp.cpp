// Revocation by OCSP: a response judged as OpenSSL checks it.
#include <openssl/err.h>
#include <openssl/ocsp.h>
#include <openssl/x509v3.h>

#include "host/revocation/revocation.h"

namespace host::revocation {
namespace {

// The first reason OpenSSL queued, or `otherwise`.
std::string QueuedReason(const std::string& otherwise) {
  const char* data = nullptr;
  int flags = 0;
  std::string reason;
  for (unsigned long error; (error = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) != 0;)
    if (reason.empty() && ERR_reason_error_string(error)) {
      reason = ERR_reason_error_string(error);
      if (data && *data && (flags & ERR_TXT_STRING)) reason += std::string(" (") + data + ")";
    }
  return reason.empty() ? otherwise : reason;
}

CertificateRevocation Unknown(CertificateRevocation verdict, const std::string& problem) {
  verdict.status = RevocationStatus::Unknown;
  verdict.problem = problem;
  ERR_clear_error();
  return verdict;
}

}  // namespace

CertificateRevocation OcspVerdict(const std::string& der, X509* certificate, X509* issuer,
                                  const std::vector<X509*>& chain, X509* anchor, OCSP_REQUEST* request,
                                  const std::string& source, std::int64_t maxAgeSeconds) {
  CertificateRevocation verdict;
  verdict.subject = ossl::NameText(X509_get_subject_name(certificate));
  verdict.source = source;
  const auto* at = reinterpret_cast<const unsigned char*>(der.data());
  const UniquePtr<OCSP_RESPONSE> response(d2i_OCSP_RESPONSE(nullptr, &at, static_cast<long>(der.size())));
  if (!response) return Unknown(verdict, "the response is no OCSP response");
  const int status = OCSP_response_status(response.get());
  if (status != OCSP_RESPONSE_STATUS_SUCCESSFUL)
    return Unknown(verdict, std::string("the responder answered ") + OCSP_response_status_str(status));
  const UniquePtr<OCSP_BASICRESP> basic(OCSP_response_get1_basic(response.get()));
  if (!basic) return Unknown(verdict, "the response holds no answer");
  if (request && OCSP_check_nonce(request, basic.get()) == 0)
    return Unknown(verdict, "the response does not answer this request (its nonce differs)");
  const UniquePtr<X509_STORE> trusted(X509_STORE_new());
  X509_STORE_add_cert(trusted.get(), anchor);
  X509_STORE_set_flags(trusted.get(), X509_V_FLAG_PARTIAL_CHAIN);
  const UniquePtr<STACK_OF(X509)> others = CertificateStack(chain);
  if (OCSP_basic_verify(basic.get(), others.get(), trusted.get(), 0) <= 0)
    return Unknown(verdict, "its signature is not the issuer's or a responder's it delegated: " +
                                QueuedReason("it cannot be verified"));
  const UniquePtr<OCSP_CERTID> id(OCSP_cert_to_id(nullptr, certificate, issuer));
  int state = V_OCSP_CERTSTATUS_UNKNOWN, reason = -1;
  ASN1_GENERALIZEDTIME *revoked = nullptr, *thisUpdate = nullptr, *nextUpdate = nullptr;
  if (!id || !OCSP_resp_find_status(basic.get(), id.get(), &state, &reason, &revoked, &thisUpdate, &nextUpdate))
    return Unknown(verdict, "the response is not about this certificate (serial or issuer differ)");
  if (nextUpdate) verdict.nextUpdate = SecondsOf(nextUpdate);
  // The age bound applies only without a next update: OpenSSL would apply
  // it to every answer.
  if (!OCSP_check_validity(thisUpdate, nextUpdate, kRevocationClockSkewSeconds, nextUpdate ? -1 : maxAgeSeconds))
    return Unknown(verdict, nextUpdate ? "the response is stale or not yet valid"
                                       : "the response is stale: made " +
                                             ossl::IsoFromSeconds(SecondsOf(thisUpdate).value_or(0)) +
                                             " without a next update, it is older than " +
                                             std::to_string(maxAgeSeconds / 86400) + " days (--ocsp-max-age)");
  const std::optional<std::int64_t> made = SecondsOf(thisUpdate), issued = SecondsOf(X509_get0_notBefore(certificate));
  if (!made || !issued || *made + kRevocationClockSkewSeconds < *issued)
    return Unknown(verdict, "the response was made " + ossl::IsoFromSeconds(made.value_or(0)) +
                                ", before the certificate was issued (" + ossl::IsoFromSeconds(issued.value_or(0)) +
                                "): it says nothing about it");
  ERR_clear_error();
  if (state == V_OCSP_CERTSTATUS_GOOD) {
    verdict.status = RevocationStatus::Good;
  } else if (state == V_OCSP_CERTSTATUS_REVOKED) {
    verdict.status = RevocationStatus::Revoked;
    if (revoked) verdict.revokedAt = SecondsOf(revoked);
    if (reason >= 0) verdict.reason = OCSP_crl_reason_str(reason);
  } else {
    return Unknown(verdict, "the responder does not know it");
  }
  return verdict;
}

}  // namespace host::revocation
