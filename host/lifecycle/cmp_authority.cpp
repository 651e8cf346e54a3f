#include "host/lifecycle/cmp_authority.h"

#include <openssl/cmp.h>
#include <openssl/err.h>
#include <openssl/http.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>

#include "host/lifecycle/cmp_address.h"
#include "host/net/deadline.h"
#include "host/net/http_fetch.h"
#include "ossl/text.h"

namespace host::lifecycle {

using ossl::UniquePtr;
namespace {

// What the exchange's own checks found, reached from OpenSSL's callbacks
// through the verification stores they are given.
struct ExchangeChecks {
  bool senderPinned = false;
  const TrustAnchors* issuedAnchors = nullptr;
  std::string refusedSender;  // a signer that does not speak for the CA
  std::string signerProblem;  // why the first signer tried did not verify
  std::string issuedProblem;  // why the new certificate is rejected
};

int ChecksIndex() {
  static const int index = X509_STORE_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

ExchangeChecks* ChecksOf(X509_STORE* store) {
  return store ? static_cast<ExchangeChecks*>(X509_STORE_get_ex_data(store, ChecksIndex())) : nullptr;
}

// The protection store's verification callback: the certificate that
// signed an answer (depth 0) must speak for the CA, unless its name is
// pinned (OpenSSL then checks the answer's sender against the pin).
// OpenSSL 3.0 checks neither, and gives no access to the validated signer.
int CheckSender(int ok, X509_STORE_CTX* context) {
  ExchangeChecks* checks = ChecksOf(X509_STORE_CTX_get0_store(context));
  if (!ok && checks && checks->signerProblem.empty()) {
    // Said apart: an expired signer is the CA's to renew, an untrusted one
    // may be the operator's --trusted.
    X509* failed = X509_STORE_CTX_get_current_cert(context);
    checks->signerProblem = (failed ? ossl::NameText(X509_get_subject_name(failed)) + ": " : "") +
                            X509_verify_cert_error_string(X509_STORE_CTX_get_error(context));
  }
  if (!ok || X509_STORE_CTX_get_error_depth(context) != 0) return ok;
  X509* signer = X509_STORE_CTX_get_current_cert(context);
  if (!checks || checks->senderPinned || SpeaksForTheCa(signer)) return 1;
  checks->refusedSender = ossl::NameText(X509_get_subject_name(signer));
  X509_STORE_CTX_set_error(context, X509_V_ERR_INVALID_PURPOSE);
  return 0;
}

// The certificate confirmation: OpenSSL's own check (the new certificate
// chains to the store given as the callback's argument, which also builds
// the chain kept as newChain), then no CA certificate. A rejection is sent
// to the CA unless it granted implicit confirmation.
int ConfirmIssued(OSSL_CMP_CTX* context, X509* certificate, int failure, const char** text) {
  if (failure != 0) return failure;  // the core's own finding (another key) stands
  X509_STORE* anchors = static_cast<X509_STORE*>(OSSL_CMP_CTX_get_certConf_cb_arg(context));
  ExchangeChecks* checks = ChecksOf(anchors);
  failure = OSSL_CMP_certConf_cb(context, certificate, failure, text);
  if (!checks) return failure ? failure : 1 << OSSL_CMP_PKIFAILUREINFO_systemFailure;
  if (failure == 0) {
    checks->issuedProblem = CaCertificateProblem(certificate);
    if (!checks->issuedProblem.empty()) failure = 1 << OSSL_CMP_PKIFAILUREINFO_badCertTemplate;
  } else {
    std::vector<X509*> untrusted;
    const STACK_OF(X509)* received = OSSL_CMP_CTX_get0_untrusted(context);
    for (int i = 0; i < sk_X509_num(received); ++i) untrusted.push_back(sk_X509_value(received, i));
    std::vector<UniquePtr<X509>> chain;
    VerifyIssued(certificate, untrusted, *checks->issuedAnchors, std::time(nullptr), chain, checks->issuedProblem);
  }
  if (failure != 0) *text = checks->issuedProblem.c_str();
  return failure;
}

// The CMP client's own log is not printed, but some of its refusals (a
// sender that is not the expected one) are only said there, never queued:
// what it says beyond its progress is kept, on the exchange's thread, for
// the outcome's error.
thread_local std::string* t_said = nullptr;

int Note(const char*, const char*, int, OSSL_CMP_severity level, const char* message) {
  if (!t_said || !message || level > OSSL_CMP_LOG_INFO) return 1;
  std::string line(message);
  line.erase(0, line.find_first_not_of(' '));
  if (line.rfind("sending ", 0) == 0 || line.rfind("received ", 0) == 0 || line.empty()) return 1;
  *t_said += (t_said->empty() ? "" : "; ") + line;
  return 1;
}

// Keeps what the CMP client says on this thread in `said` while it lives.
class LogCapture {
 public:
  explicit LogCapture(std::string& said) { t_said = &said; }
  ~LogCapture() { t_said = nullptr; }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
};

// The signer candidate whose dates OpenSSL's client found out of range, as
// its log says ("subject = /CN=ra.test; ...; cert has expired"): it skips
// such a certificate before any verification. Empty when none was.
std::string DatedOutSigner(const std::string& said) {
  for (const char* verdict : {"cert has expired", "cert is not yet valid"}) {
    const std::size_t at = said.find(verdict);
    const std::size_t subject = at == std::string::npos ? at : said.rfind("subject = ", at);
    if (subject == std::string::npos) continue;
    const std::size_t start = subject + std::strlen("subject = ");
    return said.substr(start, said.find(';', start) - start) + ": " + verdict;
  }
  return "";
}

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

// Where each message of an exchange goes, by when the whole exchange ends,
// and why the last transfer failed.
struct Transfer {
  std::string url;  // http://HOST:PORT/PATH
  const Deadline* deadline = nullptr;
  std::string error;
};

// The context's transfer: each message POSTed by host/net's HTTP client,
// which connects first itself, so that a refused or unreachable CA ends the
// exchange at once in its own words; OpenSSL's would retry the connection
// until the time is up. Only a silent CA waits for the deadline.
OSSL_CMP_MSG* Transfer(OSSL_CMP_CTX* context, const OSSL_CMP_MSG* request) {
  auto* transfer = static_cast<struct Transfer*>(OSSL_CMP_CTX_get_transfer_cb_arg(context));
  unsigned char* der = nullptr;
  const int length = transfer ? i2d_OSSL_CMP_MSG(request, &der) : -1;
  const ossl::Memory<unsigned char> owned(der);
  if (length <= 0) return nullptr;
  static const std::string kType = "application/pkixcmp";
  std::string answer;
  if (ozo::Failed(HttpPost(transfer->url, kType, std::string(reinterpret_cast<const char*>(der), length), kType,
                           *transfer->deadline, answer, transfer->error)))
    return nullptr;
  const auto* bytes = reinterpret_cast<const unsigned char*>(answer.data());
  OSSL_CMP_MSG* message = d2i_OSSL_CMP_MSG(nullptr, &bytes, static_cast<long>(answer.size()));
  if (!message) transfer->error = transfer->url + ": the answer is no CMP message";
  return message;
}

// Sends the context's messages to the server of `url` through Transfer;
// false with `error` set when the URL is no http URL of a host.
bool SetServer(OSSL_CMP_CTX* context, const std::string& url, struct Transfer& transfer, std::string& error) {
  CmpAddress address;
  if (std::string problem; ozo::Failed(ReadCmpAddress(url, address, problem))) {
    error = "the CA's address " + url + " " + problem;
    return false;
  }
  const bool literal6 = address.host.find(':') != std::string::npos;
  transfer.url = "http://" + (literal6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port) +
                 address.path;
  const bool set =
      OSSL_CMP_CTX_set1_server(context, address.host.c_str()) && OSSL_CMP_CTX_set_serverPort(context, address.port) &&
      OSSL_CMP_CTX_set1_serverPath(context, address.path.c_str()) && OSSL_CMP_CTX_set_transfer_cb(context, Transfer) &&
      OSSL_CMP_CTX_set_transfer_cb_arg(context, &transfer);
  ERR_clear_error();
  if (!set) error = "the CA's address " + url + " cannot be used: out of memory";
  return set;
}

}  // namespace

CaAnswer CmpAuthority::Request(const CaRequest& exchange) {
  CaAnswer outcome;
  ERR_clear_error();
  const Deadline deadline(m_timeout);
  const int timeoutSeconds = deadline.WholeSeconds();
  struct Transfer transfer;
  transfer.deadline = &deadline;
  const UniquePtr<OSSL_CMP_CTX> context(OSSL_CMP_CTX_new(nullptr, nullptr));
  if (!context || !SetServer(context.get(), m_server, transfer, outcome.error)) {
    if (outcome.error.empty()) outcome.error = "no CMP context: " + QueuedErrors();
    return outcome;
  }
  OSSL_CMP_CTX* ctx = context.get();
  OSSL_CMP_CTX_set_log_cb(ctx, Note);
  std::string said;
  const LogCapture capture(said);
  OSSL_CMP_CTX_set_option(ctx, OSSL_CMP_OPT_TOTAL_TIMEOUT, timeoutSeconds);
  OSSL_CMP_CTX_set_option(ctx, OSSL_CMP_OPT_MSG_TIMEOUT, timeoutSeconds);
  // A refusal is read even when its protection cannot be checked (a CA
  // that does not take the secret cannot prove it knows it): it can only
  // end the exchange, and its words say why. Nothing else goes unchecked.
  OSSL_CMP_CTX_set_option(ctx, OSSL_CMP_OPT_UNPROTECTED_ERRORS, 1);
  ExchangeChecks checks;
  checks.senderPinned = exchange.expectedSender != nullptr;
  checks.issuedAnchors = exchange.issuedAnchors;
  UniquePtr<X509_STORE> trusted(X509_STORE_new());
  bool set = trusted && X509_STORE_set_ex_data(trusted.get(), ChecksIndex(), &checks);
  for (X509* anchor : exchange.trusted) set = set && X509_STORE_add_cert(trusted.get(), anchor);
  X509_STORE_set_verify_cb(trusted.get(), CheckSender);
  set = set && OSSL_CMP_CTX_set0_trustedStore(ctx, trusted.get());
  if (set) trusted.release();  // the context's now
  const UniquePtr<X509_STORE> issuedAnchors =
      exchange.issuedAnchors ? IssuedCertificateStore(ossl::Borrowed(exchange.issuedAnchors->certificates)) : nullptr;
  set = set && issuedAnchors && X509_STORE_set_ex_data(issuedAnchors.get(), ChecksIndex(), &checks) &&
        OSSL_CMP_CTX_set_certConf_cb(ctx, ConfirmIssued) && OSSL_CMP_CTX_set_certConf_cb_arg(ctx, issuedAnchors.get());
  if (exchange.expectedSender) set = set && OSSL_CMP_CTX_set1_expected_sender(ctx, exchange.expectedSender);
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
  if (set && EVP_PKEY_up_ref(exchange.newKey)) {
    UniquePtr<EVP_PKEY> newKey(exchange.newKey);
    set = OSSL_CMP_CTX_set0_newPkey(ctx, 1, newKey.get());
    if (set) newKey.release();  // the context's now
  } else {
    set = false;
  }
  if (!set) {
    outcome.error = "the CMP request cannot be made: " + QueuedErrors();
    return outcome;
  }
  const int type = exchange.kind == CaRequest::Kind::Initialization  ? OSSL_CMP_IR
                   : exchange.kind == CaRequest::Kind::Certification ? OSSL_CMP_CR
                                                                     : OSSL_CMP_KUR;
  X509* issued = OSSL_CMP_exec_certreq(ctx, type, nullptr);  // owned by the context
  if (!issued) {
    char status[512] = "";
    const bool answered =
        OSSL_CMP_CTX_get_status(ctx) >= 0 && OSSL_CMP_CTX_snprint_PKIStatus(ctx, status, sizeof(status)) != nullptr;
    const std::string queued = QueuedErrors();
    // OpenSSL's queue names what failed and carries the CA's PKIStatus, its
    // failure bits and status string when it answered so.
    outcome.error = !transfer.error.empty() ? transfer.error
                    : !queued.empty()       ? queued
                    : answered              ? status
                    : !said.empty()         ? "no certificate came back: " + said
                                            : "no certificate came back";
    if (answered && OSSL_CMP_CTX_get_status(ctx) == OSSL_CMP_PKISTATUS_waiting)
      outcome.error = "the CA still had the request waiting when the time was up: " + outcome.error;
    if (const std::string dated = DatedOutSigner(said); !dated.empty()) checks.signerProblem = dated;
    if (!checks.signerProblem.empty() && outcome.error.find("error validating protection") != std::string::npos)
      outcome.error = "its answers' signature is not trusted (" + checks.signerProblem + "): " + outcome.error;
    outcome.refusedSender = checks.refusedSender;
    if (!checks.refusedSender.empty())
      outcome.error = "its answers are signed by " + checks.refusedSender +
                      ", which is neither the CA nor an RA: that certificate has no cmcRA or cmcCA extended key "
                      "usage";
    return outcome;
  }
  const UniquePtr<STACK_OF(X509)> chain(OSSL_CMP_CTX_get1_newChain(ctx));
  std::vector<X509*> certificates = {issued};
  for (int i = 0; chain && i < sk_X509_num(chain.get()); ++i) certificates.push_back(sk_X509_value(chain.get(), i));
  outcome.certificates = ossl::PemOf(certificates);
  outcome.issued = true;
  ERR_clear_error();
  return outcome;
}

}  // namespace host::lifecycle
