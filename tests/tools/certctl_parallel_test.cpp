// metrics --probe runs its probes in threads that share the slots (the
// anchor, the client certificate and key): built with ThreadSanitizer (the
// concurrency label), certctl fails this run on a race.
#include <gtest/gtest.h>

#include "tests/support/loopback_peers.h"
#include "tests/tools/certctl_fixture.h"

namespace {

using test::CertctlTest;

TEST_F(CertctlTest, ProbesInParallelShareTheSlotsWithoutARace) {
  ASSERT_EQ(Run({"set-server", "edr", Path("ca.pem")}).exit, 0);
  ASSERT_EQ(Run({"set-client", "edr", Path("agent.p12"), "--password-file", Path("password")}).exit, 0);
  // A peer each: metrics probes a type and target once, however often named.
  test::LoopbackPeers peers;
  std::vector<std::string> metrics = {"metrics"};
  constexpr int kProbes = 8;
  for (int i = 0; i < kProbes; ++i) {
    const std::string peer = peers.Serve(
        {"-cert", "peer.pem", "-key", "peer.key", "-Verify", "1", "-CAfile", "ca.pem", "-verify_return_error"},
        m_dir.path());
    metrics.insert(metrics.end(), {"--probe", "edr=" + peer});
  }
  const test::ProcessResult result = Run(metrics);
  EXPECT_EQ(result.exit, 0);
  EXPECT_EQ(result.err, "");
  const std::string works = "certificates_manager_probe_success{type=\"edr\",target=\"127.0.0.1:";
  int working = 0;
  for (std::size_t at = result.out.find(works); at != std::string::npos; at = result.out.find(works, at + 1))
    working += result.out.compare(result.out.find('}', at), 4, "} 1\n") == 0;
  EXPECT_EQ(working, kProbes) << result.out;
}

}  // namespace
