#include "host/lifecycle/cmp_authority.h"

#include <openssl/cmp.h>
#include <openssl/err.h>
#include <openssl/http.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>

#include "host/lifecycle/cmp_address.h"
#include "host/lifecycle/trust.h"
#include "host/net/deadline.h"
#include "host/net/http_fetch.h"
#include "ossl/text.h"

namespace host::lifecycle {

using ossl::UniquePtr;
namespace {

// What the exchange's own checks found, and what they judge by: reached
// from OpenSSL's callbacks through the protection store and the
// certificate confirmation's argument.
struct ExchangeChecks {
  const TrustAnchors* anchors = nullptr;
  std::function<std::int64_t()> now;
  bool senderPinned = false;
  std::string refusedSender;                 // a signer that does not speak for the CA
  std::string signerProblem;                 // why the first signer refused did not verify
  std::string issuedProblem;                 // why the new certificate is rejected
  std::vector<UniquePtr<X509>> issuedChain;  // its verified chain, once accepted
};

int ChecksIndex() {
  static const int index = X509_STORE_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// Whether the signer a verification of OpenSSL's is about was judged by
// CheckSender already, and how: kept with the verification itself.
int VerdictIndex() {
  static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}
char kAccepted, kRefused;

ExchangeChecks* ChecksOf(X509_STORE* store) {
  return store ? static_cast<ExchangeChecks*>(X509_STORE_get_ex_data(store, ChecksIndex())) : nullptr;
}

// Judges a candidate signer of an answer by the slot's one anchor rule
// (VerifyPath: any anchor, any order of the CA's certificates, the clock
// now), then its standing: the CA itself or an RA, unless its name is
// pinned (OpenSSL then checks the answer's sender against the pin).
bool SignerTrusted(ExchangeChecks& checks, X509* signer, STACK_OF(X509) * received) {
  std::vector<X509*> untrusted;
  for (int i = 0; i < sk_X509_num(received); ++i) untrusted.push_back(sk_X509_value(received, i));
  std::vector<UniquePtr<X509>> chain;
  std::string problem;
  if (ozo::Failed(VerifyPath(signer, untrusted, *checks.anchors, checks.now(), 0, chain, problem))) {
    // Said apart: an expired signer is the CA's to renew, an untrusted one
    // may be the operator's --trusted.
    if (checks.signerProblem.empty())  // "CN=ra.test does not chain to ca.pem: certificate has expired"
      checks.signerProblem =
          ossl::NameText(X509_get_subject_name(signer)) + problem.substr(problem.rfind("it ", 0) == 0 ? 2 : 0);
    return false;
  }
  if (checks.senderPinned || SpeaksForTheCa(signer)) return true;
  checks.refusedSender = ossl::NameText(X509_get_subject_name(signer));
  return false;
}

// The protection store's verification callback: the slot's rule decides
// for each signer OpenSSL tries, once, and every later call of the same
// verification answers the same. OpenSSL 3.0 checks neither the signer's
// standing nor a path other than the first it builds, and gives no access
// to the validated signer.
int CheckSender(int, X509_STORE_CTX* context) {
  ExchangeChecks* checks = ChecksOf(X509_STORE_CTX_get0_store(context));
  if (!checks || !checks->anchors) return 0;
  void* verdict = X509_STORE_CTX_get_ex_data(context, VerdictIndex());
  if (!verdict) {
    verdict = SignerTrusted(*checks, X509_STORE_CTX_get0_cert(context), X509_STORE_CTX_get0_untrusted(context))
                  ? &kAccepted
                  : &kRefused;
    X509_STORE_CTX_set_ex_data(context, VerdictIndex(), verdict);
  }
  if (verdict == &kAccepted) return 1;
  X509_STORE_CTX_set_error(context, X509_V_ERR_CERT_UNTRUSTED);
  return 0;
}

// The certificate confirmation, by the slot's rule (VerifyIssued at the
// moment it arrives) in place of OpenSSL's own check, which takes the first
// candidate issuer only and drops partial chains; its verified chain is
// kept for the answer. A rejection is sent to the CA unless it granted
// implicit confirmation.
int ConfirmIssued(OSSL_CMP_CTX* context, X509* certificate, int failure, const char** text) {
  if (failure != 0) return failure;  // the core's own finding (another key) stands
  auto* checks = static_cast<ExchangeChecks*>(OSSL_CMP_CTX_get_certConf_cb_arg(context));
  if (!checks || !checks->anchors) return 1 << OSSL_CMP_PKIFAILUREINFO_systemFailure;
  std::vector<X509*> untrusted;
  const STACK_OF(X509)* received = OSSL_CMP_CTX_get0_untrusted(context);
  for (int i = 0; i < sk_X509_num(received); ++i) untrusted.push_back(sk_X509_value(received, i));
  const ozo::result_t verified =
      VerifyIssued(certificate, untrusted, *checks->anchors, checks->now(), checks->issuedChain, checks->issuedProblem);
  if (ozo::Succeeded(verified)) return 0;
  *text = checks->issuedProblem.c_str();
  return 1 << (verified == ozo::results::Prohibited && !CaCertificateProblem(certificate).empty()
                   ? OSSL_CMP_PKIFAILUREINFO_badCertTemplate
                   : OSSL_CMP_PKIFAILUREINFO_incorrectData);
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
  if (!exchange.anchors) {
    outcome.error = "no anchors say which CA may answer";
    return outcome;
  }
  const Deadline fallback(kDefaultSeconds);
  const Deadline& deadline = exchange.deadline ? *exchange.deadline : fallback;
  const int timeoutSeconds = deadline.WholeSeconds();
  struct Transfer transfer;
  transfer.deadline = &deadline;
  const UniquePtr<OSSL_CMP_CTX> context(OSSL_CMP_CTX_new(nullptr, nullptr));
  if (!context || !SetServer(context.get(), exchange.server, transfer, outcome.error)) {
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
  checks.anchors = exchange.anchors;
  checks.now = exchange.now ? exchange.now : [] { return static_cast<std::int64_t>(std::time(nullptr)); };
  checks.senderPinned = exchange.expectedSender != nullptr;
  // OpenSSL looks for the signer's issuers in this store first; CheckSender
  // decides by the slot's rule whatever OpenSSL finds.
  UniquePtr<X509_STORE> trusted(X509_STORE_new());
  bool set = trusted && X509_STORE_set_ex_data(trusted.get(), ChecksIndex(), &checks) &&
             X509_STORE_set_flags(trusted.get(), X509_V_FLAG_PARTIAL_CHAIN);
  for (const UniquePtr<X509>& anchor : exchange.anchors->certificates)
    set = set && X509_STORE_add_cert(trusted.get(), anchor.get());
  if (set) X509_STORE_set_verify_cb(trusted.get(), CheckSender);
  set = set && OSSL_CMP_CTX_set0_trustedStore(ctx, trusted.get());
  if (set) trusted.release();  // the context's now
  set = set && OSSL_CMP_CTX_set_certConf_cb(ctx, ConfirmIssued) && OSSL_CMP_CTX_set_certConf_cb_arg(ctx, &checks);
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
  const bool general = exchange.kind == CaRequest::Kind::GeneralMessage;
  if (general) {
    // One question the CA may answer or echo (OpenSSL's mock CA echoes):
    // which key types it signs with.
    UniquePtr<OSSL_CMP_ITAV> question(OSSL_CMP_ITAV_create(OBJ_nid2obj(NID_id_it_signKeyPairTypes), nullptr));
    set = set && question && OSSL_CMP_CTX_push0_genm_ITAV(ctx, question.get());
    if (set) question.release();  // the context's now
  } else if (set && EVP_PKEY_up_ref(exchange.newKey)) {
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
  X509* issued = nullptr;  // owned by the context
  if (general) {
    const UniquePtr<STACK_OF(OSSL_CMP_ITAV)> answer(OSSL_CMP_exec_GENM_ses(ctx));
    outcome.answered = answer != nullptr;
  } else {
    issued = OSSL_CMP_exec_certreq(ctx, type, nullptr);
  }
  if (outcome.answered) {
    ERR_clear_error();
    return outcome;
  }
  if (!issued) {
    char status[512] = "";
    const bool answered =
        OSSL_CMP_CTX_get_status(ctx) >= 0 && OSSL_CMP_CTX_snprint_PKIStatus(ctx, status, sizeof(status)) != nullptr;
    const std::string queued = QueuedErrors();
    // OpenSSL's queue names what failed and carries the CA's PKIStatus, its
    // failure bits and status string when it answered so.
    // The caller names the CA; a transfer's failure is said without the
    // address it names too.
    const std::string named = transfer.url + ": ";
    if (transfer.error.compare(0, named.size(), named) == 0) transfer.error.erase(0, named.size());
    outcome.error = !transfer.error.empty() ? transfer.error
                    : !queued.empty()       ? queued
                    : answered              ? status
                    : !said.empty()
                        ? std::string(general ? "no answer came back: " : "no certificate came back: ") + said
                    : general ? "no answer came back"
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
  std::vector<X509*> certificates = {issued};
  for (const UniquePtr<X509>& each : checks.issuedChain) certificates.push_back(each.get());
  outcome.certificates = ossl::PemOf(certificates);
  outcome.issued = true;
  ERR_clear_error();
  return outcome;
}

}  // namespace host::lifecycle
