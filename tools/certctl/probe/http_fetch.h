// A document fetched over HTTP by OpenSSL's client, within a timeout: a CRL
// from its distribution point, an OCSP response from its responder.
#pragma once

#include <string>

namespace certctl {

// The largest document taken: a CRL of a big PKI fits.
constexpr std::size_t kMaxFetchedBytes = 10 << 20;

// GETs `url` (http only) into `body`; false with `error` saying why.
bool HttpGet(const std::string& url, double timeoutSeconds, std::string& body, std::string& error);

// POSTs `request` of `contentType` to `url` and takes an answer of
// `answerType` into `body`; false with `error` saying why.
bool HttpPost(const std::string& url, const std::string& contentType, const std::string& request,
              const std::string& answerType, double timeoutSeconds, std::string& body, std::string& error);

}  // namespace certctl
