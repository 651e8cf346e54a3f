// The reference host with every service recording what it sees, so that a
// test can inspect trace lines, events, policy queries, lock acquisitions and
// the fault journal.
#pragma once

#include <utility>

#include "host/service_host.h"

namespace test {

class RecordingHost : public host::ServiceHost {
 public:
  explicit RecordingHost(host::HostOptions options = {}) : host::ServiceHost(Recorded(std::move(options))) {}

 private:
  static host::HostOptions Recorded(host::HostOptions options) {
    options.recording = true;
    return options;
  }
};

}  // namespace test
