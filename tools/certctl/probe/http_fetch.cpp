#include "tools/certctl/probe/http_fetch.h"

#include <openssl/err.h>
#include <openssl/http.h>

#include <cmath>
#include <ctime>

#include "host/openssl_holders.h"

namespace certctl {
namespace {

using host::OpenSslMemory;
using host::UniquePtr;

// What OpenSSL queued of the failure, its first reason and its data.
std::string Failure(const std::string& url) {
  const char* data = nullptr;
  int flags = 0;
  std::string why;
  for (unsigned long error; (error = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) != 0;) {
    if (!why.empty()) continue;
    const char* reason = ERR_reason_error_string(error);
    why = reason ? reason : "error";
    if (data && *data && (flags & ERR_TXT_STRING)) why += std::string(" (") + data + ")";
  }
  return url + ": " + (why.empty() ? "no answer" : why);
}

int Seconds(double timeout) { return std::max(1, static_cast<int>(std::ceil(timeout))); }

// Reads `answer` to its end by `deadline`. An answer read whole is a memory
// BIO, at its end when empty. A streamed answer comes from the connection
// itself, which is non-blocking under a timeout: a read that finds nothing
// yet waits for more, not for less.
bool ReadAll(BIO* answer, time_t deadline, std::string& body, std::string& error) {
  if (BIO_method_type(answer) == BIO_TYPE_MEM) BIO_set_mem_eof_return(answer, 0);
  char buffer[16384];
  for (;;) {
    const int read = BIO_read(answer, buffer, sizeof(buffer));
    if (read > 0) {
      body.append(buffer, static_cast<std::size_t>(read));
      if (body.size() > kMaxFetchedBytes) return error = "larger than a CRL is taken", false;
    } else if (!BIO_should_retry(answer)) {
      return true;
    } else if (BIO_wait(answer, deadline, 100) <= 0) {
      return error = "the answer did not end within the timeout", false;
    }
  }
}

bool IsHttp(const std::string& url, std::string& error) {
  if (url.rfind("http://", 0) == 0) return true;
  error = url + ": only http:// is fetched (CRLs and OCSP responses are signed; no TLS is needed)";
  return false;
}

// The body of `answer` (null: the exchange failed, as OpenSSL queued).
bool TakeAnswer(BIO* answer, time_t deadline, const std::string& url, std::string& body, std::string& error) {
  body.clear();
  std::string why;
  const bool taken = answer && ReadAll(answer, deadline, body, why);
  if (!taken) error = answer ? url + ": " + why : Failure(url);
  ERR_clear_error();
  return taken;
}

}  // namespace

bool HttpGet(const std::string& url, double timeoutSeconds, std::string& body, std::string& error) {
  if (!IsHttp(url, error)) return false;
  ERR_clear_error();
  const time_t deadline = std::time(nullptr) + Seconds(timeoutSeconds);
  const UniquePtr<BIO> answer(OSSL_HTTP_get(url.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                                            nullptr, nullptr, 0, kMaxFetchedBytes, Seconds(timeoutSeconds)));
  return TakeAnswer(answer.get(), deadline, url, body, error);
}

bool HttpPost(const std::string& url, const std::string& contentType, const std::string& request,
              const std::string& answerType, double timeoutSeconds, std::string& body, std::string& error) {
  if (!IsHttp(url, error)) return false;
  ERR_clear_error();
  int tls = 0;
  char *host = nullptr, *port = nullptr, *path = nullptr;
  const bool parsed = OSSL_HTTP_parse_url(url.c_str(), &tls, nullptr, &host, &port, nullptr, &path, nullptr, nullptr);
  const OpenSslMemory<char> ownedHost(host), ownedPort(port), ownedPath(path);
  if (!parsed) {
    error = url + ": no URL";
    ERR_clear_error();
    return false;
  }
  const time_t deadline = std::time(nullptr) + Seconds(timeoutSeconds);
  UniquePtr<BIO> sent(BIO_new_mem_buf(request.data(), static_cast<int>(request.size())));
  const UniquePtr<BIO> answer(OSSL_HTTP_transfer(nullptr, host, port, path, 0, nullptr, nullptr, nullptr, nullptr,
                                                 nullptr, nullptr, 0, nullptr, contentType.c_str(), sent.get(),
                                                 answerType.c_str(), 1, kMaxFetchedBytes, Seconds(timeoutSeconds), 0));
  return TakeAnswer(answer.get(), deadline, url, body, error);
}

}  // namespace certctl
