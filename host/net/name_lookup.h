// Name lookup within a deadline.
#pragma once

#include <netdb.h>

#include <chrono>
#include <memory>
#include <string>

namespace host {

using AddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

// getaddrinfo(host, port, hints) bounded by `deadline`. The system's
// resolver cannot be interrupted and retries on its own for many seconds
// (a resolver that never answers holds a lookup for 10 s and more), so a
// name is looked up on a thread of its own, which the caller leaves to
// finish alone when the deadline comes first: that thread then frees what it
// found. A numeric host is converted at once. Returns getaddrinfo's code, or
// EAI_AGAIN with `timedOut` set when the deadline passed.
int LookUp(const std::string& host, const std::string& port, const addrinfo& hints,
           std::chrono::steady_clock::time_point deadline, AddressList& found, bool& timedOut);

}  // namespace host
