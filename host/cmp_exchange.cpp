#include "host/cmp_exchange.h"

#include <openssl/cmp.h>
#include <openssl/err.h>
#include <openssl/http.h>
#include <openssl/pem.h>

#include "host/openssl_holders.h"

namespace host {
namespace {

// The CMP client's own log is not printed: what matters of it comes back in
// CmpOutcome::error.
int Quiet(const char*, const char*, int, OSSL_CMP_severity, const char*) { return 1; }

// What OpenSSL queued, reasons with their data: "connect timeout", "request
// rejected by server: PKIStatus: rejection; ...".
std::string QueuedErrors() {
  std::string words;
  const char* data = nullptr;
  int flags = 0;
  for (unsigned long error; (error = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) != 0;) {
    const char* reason = ERR_reason_error_string(error);
    std::string said = reason ? reason : "error " + std::to_string(ERR_GET_REASON(error));
    if (data && *data && (flags & ERR_TXT_STRING)) said += std::string(": ") + data;
    if (words.find(said) == std::string::npos) words += (words.empty() ? "" : "; ") + said;
  }
  return words;
}

std::string Pem(X509* certificate, STACK_OF(X509) * chain) {
  UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509(bio.get(), certificate);
  for (int i = 0; chain && i < sk_X509_num(chain); ++i)
    if (X509_cmp(sk_X509_value(chain, i), certificate) != 0) PEM_write_bio_X509(bio.get(), sk_X509_value(chain, i));
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

// Points the context at the server of `url`; false with `error` set when
// the URL is no http URL of a host.
bool SetServer(OSSL_CMP_CTX* context, const std::string& url, std::string& error) {
  const std::string full = url.find("://") == std::string::npos ? "http://" + url : url;
  int tls = 0, port = 0;
  char *host = nullptr, *path = nullptr;
  const bool parsed =
      OSSL_HTTP_parse_url(full.c_str(), &tls, nullptr, &host, nullptr, &port, &path, nullptr, nullptr) == 1;
  const OpenSslMemory<char> ownedHost(host), ownedPath(path);
  const bool set = parsed && !tls && OSSL_CMP_CTX_set1_server(context, host) &&
                   OSSL_CMP_CTX_set_serverPort(context, port) && OSSL_CMP_CTX_set1_serverPath(context, path);
  ERR_clear_error();
  if (!set)
    error = !parsed ? "the CA's address " + url + " is no URL"
            : tls   ? "the CA's address " + url +
                        " asks for TLS, which certctl does not speak to a CA: CMP messages carry their own "
                        "protection, so give its http:// URL"
                  : "the CA's address " + url + " cannot be used";
  return set;
}

}  // namespace

bool CmpRequestOf(const std::string& name, CmpRequest& request) {
  if (name == "ir") return request = CmpRequest::Initialization, true;
  if (name == "cr") return request = CmpRequest::Certification, true;
  if (name == "kur") return request = CmpRequest::KeyUpdate, true;
  return false;
}

CmpOutcome ExchangeCmp(const CmpExchange& exchange) {
  CmpOutcome outcome;
  ERR_clear_error();
  const UniquePtr<OSSL_CMP_CTX> context(OSSL_CMP_CTX_new(nullptr, nullptr));
  if (!context || !SetServer(context.get(), exchange.server, outcome.error)) {
    if (outcome.error.empty()) outcome.error = "no CMP context: " + QueuedErrors();
    return outcome;
  }
  OSSL_CMP_CTX* ctx = context.get();
  OSSL_CMP_CTX_set_log_cb(ctx, Quiet);
  OSSL_CMP_CTX_set_option(ctx, OSSL_CMP_OPT_TOTAL_TIMEOUT, exchange.timeoutSeconds);
  OSSL_CMP_CTX_set_option(ctx, OSSL_CMP_OPT_MSG_TIMEOUT, exchange.timeoutSeconds);
  // A refusal is read even when its protection cannot be checked (a CA
  // that does not take the secret cannot prove it knows it): it can only
  // end the exchange, and its words say why. Nothing else goes unchecked.
  OSSL_CMP_CTX_set_option(ctx, OSSL_CMP_OPT_UNPROTECTED_ERRORS, 1);
  X509_STORE* trusted = X509_STORE_new();
  for (X509* anchor : exchange.trusted) X509_STORE_add_cert(trusted, anchor);
  bool set = trusted && OSSL_CMP_CTX_set0_trustedStore(ctx, trusted);
  if (!set) X509_STORE_free(trusted);
  if (exchange.secret) {
    set = set &&
          OSSL_CMP_CTX_set1_referenceValue(ctx, reinterpret_cast<const unsigned char*>(exchange.reference.data()),
                                           static_cast<int>(exchange.reference.size())) &&
          OSSL_CMP_CTX_set1_secretValue(ctx, reinterpret_cast<const unsigned char*>(exchange.secret->c_str()),
                                        static_cast<int>(exchange.secret->size()));
  } else {
    set = set && OSSL_CMP_CTX_set1_cert(ctx, exchange.certificate) && OSSL_CMP_CTX_set1_pkey(ctx, exchange.key) &&
          OSSL_CMP_CTX_set1_oldCert(ctx, exchange.certificate);
  }
  if (exchange.subject) set = set && OSSL_CMP_CTX_set1_subjectName(ctx, exchange.subject);
  set = set && EVP_PKEY_up_ref(exchange.newKey) && OSSL_CMP_CTX_set0_newPkey(ctx, 1, exchange.newKey);
  if (!set) {
    outcome.error = "the CMP request cannot be made: " + QueuedErrors();
    return outcome;
  }
  const int type = exchange.request == CmpRequest::Initialization  ? OSSL_CMP_IR
                   : exchange.request == CmpRequest::Certification ? OSSL_CMP_CR
                                                                   : OSSL_CMP_KUR;
  X509* issued = OSSL_CMP_exec_certreq(ctx, type, nullptr);  // owned by the context
  if (!issued) {
    char status[512] = "";
    const bool answered =
        OSSL_CMP_CTX_get_status(ctx) >= 0 && OSSL_CMP_CTX_snprint_PKIStatus(ctx, status, sizeof(status)) != nullptr;
    const std::string queued = QueuedErrors();
    // OpenSSL's queue names what failed and carries the CA's PKIStatus, its
    // failure bits and status string when it answered so.
    outcome.error = !queued.empty() ? queued : answered ? status : "no certificate came back";
    if (answered && OSSL_CMP_CTX_get_status(ctx) == OSSL_CMP_PKISTATUS_waiting)
      outcome.error = "the CA still had the request waiting when the time was up: " + outcome.error;
    return outcome;
  }
  const UniquePtr<STACK_OF(X509)> chain(OSSL_CMP_CTX_get1_extraCertsIn(ctx));
  outcome.certificates = Pem(issued, chain.get());
  outcome.issued = true;
  ERR_clear_error();
  return outcome;
}

}  // namespace host
