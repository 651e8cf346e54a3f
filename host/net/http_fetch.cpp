#include "host/net/http_fetch.h"

#include <openssl/err.h>
#include <openssl/http.h>

#include "host/net/connection.h"
#include "ossl/holders.h"

namespace host {

using ossl::UniquePtr;
namespace {

// How many redirections a GET follows.
constexpr int kMaxRedirections = 5;

// What OpenSSL queued of the failure: its first reason and its data.
std::string QueuedReason() {
  const char* data = nullptr;
  int flags = 0;
  std::string why;
  for (unsigned long error; (error = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) != 0;) {
    if (!why.empty()) continue;
    const char* reason = ERR_reason_error_string(error);
    why = reason ? reason : "error";
    if (data && *data && (flags & ERR_TXT_STRING)) why += std::string(" (") + data + ")";
  }
  return why.empty() ? "no answer" : why;
}

// Reads the rest of `answer` (the connection, non-blocking) to its end, or
// to `length` bytes when the server said how many it sends.
bool ReadAll(BIO* answer, int fd, std::size_t length, const Deadline& deadline, std::string& body, std::string& error) {
  char buffer[16384];
  while (length == 0 || body.size() < length) {
    const int read = BIO_read(answer, buffer, sizeof(buffer));
    if (read > 0) {
      body.append(buffer, static_cast<std::size_t>(read));
      if (body.size() > kMaxFetchedBytes) return error = "larger than a CRL is taken", false;
    } else if (!BIO_should_retry(answer)) {
      return true;
    } else if (!WaitFor(fd, POLLIN, deadline)) {
      return error = "the answer did not end " + deadline.Within(), false;
    }
  }
  return true;
}

struct Request {
  const std::string* contentType = nullptr;  // null: a GET
  const std::string* body = nullptr;
  const std::string* answerType = nullptr;
};

// One exchange with the server of `url`. A redirection of a GET sets
// `redirection` and returns false with no error.
bool Exchange(const std::string& url, const Request& request, const Deadline& deadline, std::string& body,
              std::string& redirection, std::string& error) {
  int tls = 0;
  char *host = nullptr, *port = nullptr, *path = nullptr;
  ERR_clear_error();
  const bool parsed = OSSL_HTTP_parse_url(url.c_str(), &tls, nullptr, &host, &port, nullptr, &path, nullptr, nullptr);
  const ossl::Memory<char> ownedHost(host), ownedPort(port), ownedPath(path);
  ERR_clear_error();
  if (!parsed || tls || url.rfind("http://", 0) != 0) {
    error = url +
            (parsed ? ": only http:// is fetched (CRLs and OCSP responses are signed; no TLS is needed)" : ": no URL");
    return false;
  }
  std::string failure;
  const Descriptor socket = ConnectWithin(host, static_cast<std::uint16_t>(std::stoi(port)), deadline, failure);
  if (!socket) {
    error = url + ": " + failure;
    return false;
  }
  const SocketCutoff cutoff(socket.get(), deadline);
  const UniquePtr<BIO> connection(BIO_new_socket(socket.get(), BIO_NOCLOSE));
  UniquePtr<BIO> sent(request.body ? BIO_new_mem_buf(request.body->data(), static_cast<int>(request.body->size()))
                                   : nullptr);
  // The connection is given for writing and reading: OpenSSL connects
  // nothing of its own.
  OSSL_HTTP_REQ_CTX* context = connection
                                   ? OSSL_HTTP_open(host, port, nullptr, nullptr, 0, connection.get(), connection.get(),
                                                    nullptr, nullptr, 0, deadline.WholeSeconds())
                                   : nullptr;
  char* moved = nullptr;
  const UniquePtr<BIO> answer(
      context && OSSL_HTTP_set1_request(
                     context, path, nullptr, request.contentType ? request.contentType->c_str() : nullptr, sent.get(),
                     request.answerType ? request.answerType->c_str() : nullptr, 0, kMaxFetchedBytes, -1, 0)
          ? OSSL_HTTP_exchange(context, request.contentType ? nullptr : &moved)
          : nullptr);
  const ossl::Memory<char> ownedMoved(moved);
  body.clear();
  std::string why;
  const bool taken =
      answer && ReadAll(answer.get(), socket.get(), OSSL_HTTP_REQ_CTX_get_resp_len(context), deadline, body, why);
  if (!taken && moved) redirection = moved;
  if (!taken && !moved)
    error = url + ": " + (cutoff.fired() ? "no answer " + deadline.Within() : answer ? why : QueuedReason());
  OSSL_HTTP_close(context, taken);
  ERR_clear_error();
  return taken;
}

bool Fetch(std::string url, const Request& request, const Deadline& deadline, std::string& body, std::string& error) {
  for (int redirections = 0;; ++redirections) {
    std::string redirection;
    if (Exchange(url, request, deadline, body, redirection, error)) return true;
    if (redirection.empty()) return false;
    if (redirections == kMaxRedirections) {
      error = url + ": more than " + std::to_string(kMaxRedirections) + " redirections";
      return false;
    }
    // A path alone stays on the same server.
    url = redirection[0] == '/' ? url.substr(0, url.find('/', url.find("://") + 3)) + redirection : redirection;
  }
}

}  // namespace

ozo::result_t HttpGet(const std::string& url, const Deadline& deadline, std::string& body, std::string& error) {
  return Fetch(url, Request{}, deadline, body, error) ? ozo::results::NoError : ozo::results::UnspecifiedPlatformError;
}

ozo::result_t HttpPost(const std::string& url, const std::string& contentType, const std::string& request,
                       const std::string& answerType, const Deadline& deadline, std::string& body, std::string& error) {
  return Fetch(url, Request{&contentType, &request, &answerType}, deadline, body, error)
             ? ozo::results::NoError
             : ozo::results::UnspecifiedPlatformError;
}

}  // namespace host
