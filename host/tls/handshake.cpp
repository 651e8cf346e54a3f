#include "host/tls/handshake.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include "host/net/connection.h"
#include "ossl/text.h"

namespace host::tls {
namespace {

using Clock = std::chrono::steady_clock;
using ossl::UniquePtr;

// While it lives, a write to a connection the peer has closed fails with
// EPIPE instead of killing the process: SIGPIPE is blocked in this thread
// (the kernel sends it to the writing thread) and any that came is taken
// before the mask is restored.
class SigpipeHeld {
 public:
  SigpipeHeld() {
    sigemptyset(&m_pipe);
    sigaddset(&m_pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
  }
  ~SigpipeHeld() {
    sigset_t pending;
    sigpending(&pending);
    if (!m_wasPending && sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{0, 0};
      sigtimedwait(&m_pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
  }
  SigpipeHeld(const SigpipeHeld&) = delete;
  SigpipeHeld& operator=(const SigpipeHeld&) = delete;

 private:
  sigset_t m_pipe, m_previous;
  bool m_wasPending = false;
};

// What the socket must become before OpenSSL can go on after `sslError`
// (POLLIN or POLLOUT), or 0 when the error is not a wait.
short EventsAwaited(int sslError) {
  return sslError == SSL_ERROR_WANT_READ ? POLLIN : sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
}

// What the callbacks of one connection note down.
struct Notes {
  const HandshakeInput* input;
  HandshakeResult* result;
  int verifyError = X509_V_OK;
  bool ticket = false;  // the peer sent a session ticket: it finished its side of the handshake
};

Notes& NotesOf(const SSL* ssl) { return *static_cast<Notes*>(SSL_get_app_data(ssl)); }

int OnVerify(int ok, X509_STORE_CTX* store) {
  const auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  Notes& notes = NotesOf(ssl);
  if (!ok && notes.verifyError == X509_V_OK) notes.verifyError = X509_STORE_CTX_get_error(store);
  return ok;
}

int OnClientCertificateRequest(SSL* ssl, X509** certificate, EVP_PKEY** key) {
  Notes& notes = NotesOf(ssl);
  notes.result->clientRequested = true;
  if (!notes.input->clientCertificate) return 0;
  X509_up_ref(notes.input->clientCertificate);
  EVP_PKEY_up_ref(notes.input->clientKey);
  *certificate = notes.input->clientCertificate;
  *key = notes.input->clientKey;
  notes.result->clientOffered = true;
  return 1;
}

int OnNewSession(SSL* ssl, SSL_SESSION*) {
  NotesOf(ssl).ticket = true;
  return 0;  // not kept
}

// What OpenSSL's error queue says of a failed read or handshake, taken in
// one pass (taking empties the queue): the alert the peer sent, in
// OpenSSL's words ("unknown CA"), and the first error's reason.
struct QueuedErrors {
  std::string alert;
  std::string reason;
};

QueuedErrors TakeErrors() {
  QueuedErrors taken;
  for (unsigned long error; (error = ERR_get_error()) != 0;) {
    const int reason = ERR_GET_REASON(error);
    if (const char* text = ERR_reason_error_string(error); text && taken.reason.empty()) taken.reason = text;
    if (!taken.alert.empty() || ERR_GET_LIB(error) != ERR_LIB_SSL || reason < SSL_AD_REASON_OFFSET ||
        reason >= SSL_AD_REASON_OFFSET + 256)
      continue;
    const int alert = reason - SSL_AD_REASON_OFFSET;
    // OpenSSL names the alerts TLS 1.3 added "unknown".
    const std::string name =
        alert == SSL_AD_CERTIFICATE_REQUIRED ? "certificate required" : SSL_alert_desc_string_long(alert);
    taken.alert = name != "unknown" ? name : "alert " + std::to_string(alert);
  }
  return taken;
}

// Why a handshake failed, in words, from the first error OpenSSL queued.
std::string HandshakeFailure(const QueuedErrors& errors) {
  static const char* const kNotTls[] = {"wrong version number",
                                        "packet length too long",
                                        "unknown protocol",
                                        "record layer failure",
                                        "unexpected record",
                                        "unexpected message",
                                        "decryption failed or bad record mac",
                                        "bad record mac",
                                        "record length mismatch",
                                        "length mismatch",
                                        "bad packet length",
                                        "bad length"};
  if (!errors.alert.empty()) return "the peer sent " + errors.alert;
  if (errors.reason.empty()) return "the peer closed the connection";
  for (const char* reason : kNotTls)
    if (errors.reason == reason) return "the peer's answer is not TLS (" + errors.reason + ")";
  if (errors.reason == "excessive message size")
    return "the peer sent a handshake message larger than a probe takes, such as an oversized certificate chain "
           "(excessive message size)";
  return errors.reason;
}

void RecordChain(SSL* ssl, HandshakeResult& result) {
  result.chain.clear();
  const STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
  for (int i = 0; chain && i < sk_X509_num(chain); ++i) {
    X509* certificate = sk_X509_value(chain, i);
    const std::optional<std::int64_t> notAfter = ossl::SecondsOf(X509_get0_notAfter(certificate));
    result.chain.push_back({ossl::NameText(X509_get_subject_name(certificate)),
                            ossl::NameText(X509_get_issuer_name(certificate)),
                            notAfter ? ossl::IsoFromSeconds(*notAfter) : "an unreadable date", notAfter.value_or(0)});
  }
}

// What the session settled before it ended or went on: protocol, cipher,
// time, and where the anchor stands in the chain the client verified.
void RecordSession(SSL* ssl, const HandshakeInput& input, Clock::time_point start, HandshakeResult& result) {
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.protocol = SSL_get_version(ssl);
  result.cipher = SSL_get_cipher_name(ssl);
  RecordChain(ssl, result);
  const STACK_OF(X509)* verified = SSL_get0_verified_chain(ssl);
  result.chainTrusted = verified && SSL_get_verify_result(ssl) == X509_V_OK;
  for (int depth = 0; verified && depth < sk_X509_num(verified) && result.anchorDepth < 0; ++depth)
    if (X509_cmp(sk_X509_value(verified, depth), input.anchor) == 0) result.anchorDepth = depth;
  result.verifiedChain.clear();
  for (int depth = 0; result.chainTrusted && depth < sk_X509_num(verified); ++depth) {
    X509* each = sk_X509_value(verified, depth);
    if (!X509_up_ref(each)) {  // a chain with a gap would be judged wrongly: none at all
      result.verifiedChain.clear();
      break;
    }
    result.verifiedChain.emplace_back(each);
  }
  const unsigned char* stapled = nullptr;
  const long stapledLength = SSL_get_tlsext_status_ocsp_resp(ssl, &stapled);
  if (stapled && stapledLength > 0)
    result.stapledResponse.assign(reinterpret_cast<const char*>(stapled), static_cast<std::size_t>(stapledLength));
}

// In TLS 1.3 the peer judges the client's certificate (or its lack of one)
// after the client has finished its handshake: its verdict is a session
// ticket or a clean close (accepted) or an alert (refused). The probe closes
// its side and reads until one of them or the deadline; it never waits for
// a quiet period.
void AwaitVerdict(SSL* ssl, int fd, const Deadline& deadline, HandshakeResult& result) {
  Notes& notes = NotesOf(ssl);
  ERR_clear_error();
  SSL_shutdown(ssl);
  char buffer[4096];
  while (!notes.ticket) {
    ERR_clear_error();
    const int read = SSL_read(ssl, buffer, sizeof(buffer));
    if (read > 0) continue;
    const int error = SSL_get_error(ssl, read);
    if (const short events = EventsAwaited(error); events && WaitFor(fd, events, deadline)) continue;
    if (error == SSL_ERROR_ZERO_RETURN) notes.ticket = true;  // the peer's close_notify came first
    if (const std::string alert = TakeErrors().alert; !alert.empty()) {
      result.clientAccepted = false;
      result.clientRefusal = alert;
      return;
    }
    break;
  }
  if (notes.ticket) result.clientAccepted = true;
}

}  // namespace

// One attempt at the handshake, from `start`.
static HandshakeResult Attempt(const PeerAddress& target, const HandshakeInput& input, Clock::time_point start) {
  const SigpipeHeld sigpipe;
  HandshakeResult result;
  const Deadline& deadline = *input.deadline;
  const Descriptor socket = ConnectWithin(target.host, target.port, deadline, result.failure);
  if (!socket) return result;
  result.connected = true;

  UniquePtr<SSL_CTX> context(SSL_CTX_new(TLS_client_method()));
  if (!context) {
    result.failure = "cannot make a TLS context";
    return result;
  }
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(context.get(), TLS1_3_VERSION);
  // The stored certificate is the only anchor, wherever it stands: the
  // peer's own (a pinned certificate), an intermediate, or a root.
  X509_STORE_add_cert(SSL_CTX_get_cert_store(context.get()), input.anchor);
  X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(context.get()), X509_V_FLAG_PARTIAL_CHAIN);
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, OnVerify);
  SSL_CTX_set_client_cert_cb(context.get(), OnClientCertificateRequest);
  for (X509* certificate : input.clientChain)
    if (X509_up_ref(certificate) && !SSL_CTX_add_extra_chain_cert(context.get(), certificate)) X509_free(certificate);
  SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context.get(), OnNewSession);

  UniquePtr<SSL> ssl(SSL_new(context.get()));
  if (!ssl) {
    result.failure = "cannot make a TLS connection";
    return result;
  }
  Notes notes{&input, &result};
  SSL_set_app_data(ssl.get(), &notes);
  SSL_set_fd(ssl.get(), socket.get());
  // A stapled OCSP response costs the peer nothing it has not prepared.
  SSL_set_tlsext_status_type(ssl.get(), TLSEXT_STATUSTYPE_ocsp);
  const std::string name = !input.servername.empty() ? input.servername : target.literal ? "" : target.host;
  if (!name.empty()) {
    SSL_set_tlsext_host_name(ssl.get(), name.c_str());
    SSL_set1_host(ssl.get(), name.c_str());
  } else {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), target.host.c_str());
  }

  for (;;) {
    ERR_clear_error();
    const int connected = SSL_connect(ssl.get());
    if (connected == 1) break;
    const int error = SSL_get_error(ssl.get(), connected);
    if (const short events = EventsAwaited(error)) {
      if (WaitFor(socket.get(), events, deadline)) continue;
      result.failure = "the handshake did not finish " + deadline.Within();
      RecordChain(ssl.get(), result);
      return result;
    }
    RecordChain(ssl.get(), result);
    if (notes.verifyError != X509_V_OK) {
      result.verifyError = notes.verifyError;
      return result;
    }
    // An alert after the peer asked for a certificate is its verdict on it
    // (TLS 1.2: within the handshake, after the client verified the chain).
    const QueuedErrors errors = TakeErrors();
    if (!errors.alert.empty() && result.clientRequested) {
      result.clientAccepted = false;
      result.clientRefusal = errors.alert;
      RecordSession(ssl.get(), input, start, result);
    } else {
      result.failure = "the handshake failed: " + HandshakeFailure(errors);
    }
    return result;
  }
  result.handshake = true;
  RecordSession(ssl.get(), input, start, result);
  if (result.clientRequested) {
    if (SSL_version(ssl.get()) >= TLS1_3_VERSION)
      AwaitVerdict(ssl.get(), socket.get(), deadline, result);
    else
      result.clientAccepted = true;  // in TLS 1.2 the peer judged it before its Finished
  }
  return result;
}

HandshakeResult Handshake(const PeerAddress& target, const HandshakeInput& input) {
  const auto start = Clock::now();
  HandshakeResult result = Attempt(target, input, start);
  if (!result.handshake) result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return result;
}

}  // namespace host::tls
