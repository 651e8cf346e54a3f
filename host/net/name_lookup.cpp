#include "host/net/name_lookup.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace host {
namespace {

// What the lookup thread and its caller share; the last of them to let go
// frees the addresses unless the caller took them.
struct Lookup {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  int code = 0;
  addrinfo* found = nullptr;
  ~Lookup() {
    if (found) ::freeaddrinfo(found);
  }
};

}  // namespace

int LookUp(const std::string& host, const std::string& port, const addrinfo& hints,
           std::chrono::steady_clock::time_point deadline, AddressList& found, bool& timedOut) {
  timedOut = false;
  addrinfo* list = nullptr;
  if (hints.ai_flags & AI_NUMERICHOST) {
    const int code = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    found.reset(list);
    return code;
  }
  const auto lookup = std::make_shared<Lookup>();
  const auto work = [lookup, host, port, hints] {
    addrinfo* result = nullptr;
    const int code = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &result);
    const std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->code = code;
    lookup->found = result;
    lookup->done = true;
    lookup->finished.notify_one();
  };
  try {
    std::thread(work).detach();
  } catch (const std::system_error&) {
    work();  // no thread to be had: the lookup runs here, unbounded
  }
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->finished.wait_until(lock, deadline, [&] { return lookup->done; })) {
    timedOut = true;
    return EAI_AGAIN;
  }
  found.reset(std::exchange(lookup->found, nullptr));
  return lookup->code;
}

}  // namespace host
