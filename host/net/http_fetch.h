// A document fetched over HTTP by OpenSSL's client within a deadline: a CRL
// from its distribution point, an OCSP response from its responder. The
// connection is made here (a refusal ends the fetch at once) and cut at the
// deadline to the millisecond; redirections of a GET are followed.
#pragma once

#include <cstddef>
#include <string>

#include "host/net/deadline.h"
#include "ozo/result.h"

namespace host {

// The largest document taken: a CRL of a big PKI fits.
constexpr std::size_t kMaxFetchedBytes = 10 << 20;

// GETs `url` (http only) into `body`. Fails ("Unspecified platform
// error") with `error` saying why: "URL: connection refused", "URL: no
// answer within 2 s".
ozo::result_t HttpGet(const std::string& url, const Deadline& deadline, std::string& body, std::string& error);

// POSTs `request` of `contentType` to `url` and takes an answer of
// `answerType` into `body`; fails as HttpGet does.
ozo::result_t HttpPost(const std::string& url, const std::string& contentType, const std::string& request,
                       const std::string& answerType, const Deadline& deadline, std::string& body, std::string& error);

}  // namespace host
