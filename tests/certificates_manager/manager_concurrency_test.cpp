// Eight threads mixing every operation on every type. Changes publish their
// events under the manager's mutex, so the order of published events is the
// order of changes: the last event of each slot tells what it must hold.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <thread>

#include "certificates_manager/certificate_types.h"
#include "certificates_manager/record_kind.h"
#include "tests/support/manager_fixture.h"

namespace {

constexpr int kThreads = 8;
constexpr int kOperationsPerThread = 120;

class ConcurrencyTest : public test::ManagerTest {
 protected:
  void SetUp() override {
    CreateOrFail();
    m_host.base().tracer().SetThreshold(300);  // keep the run about the manager, not the trace
    for (int variant = 0; variant < 2; ++variant) {
      m_servers.push_back(test::ValidServerDer("server " + std::to_string(variant)));
      m_clients.push_back(test::ClientContainer("client " + std::to_string(variant), "pw"));
    }
  }

  void Worker(unsigned seed) {
    std::mt19937 random(seed);
    for (int i = 0; i < kOperationsPerThread; ++i) {
      const ivo::CertificateType type = 1 + random() % 4;
      const int variant = static_cast<int>(random() % 2);
      switch (random() % 9) {
        case 0:
          SetServer(type, m_servers[variant]);
          break;
        case 1:
          manager().SetPolicyClientCertificate(type, ivo::ClientCertificate(m_clients[variant], "pw"));
          break;
        case 2: {
          ivo::ServerCertificate out;
          manager().GetServerCertificate(type, out);
          break;
        }
        case 3: {
          ivo::ServerCertificate out;
          manager().GetServerPemCertificate(type, out);
          break;
        }
        case 4:
          QueryServer(type);
          break;
        case 5:
          QueryClient(type);
          break;
        case 6:
          RemoveServer(type);
          break;
        case 7:
          manager().RemovePolicyClientCertificate(type);
          break;
        default: {
          ivo::ClientCertificate out;
          manager().GetClientCertificate(type, out);
        }
      }
    }
  }

  std::vector<ozo::blob_t> m_servers, m_clients;
};

TEST_F(ConcurrencyTest, EveryInterleavingEndsInTheStateOfTheLastChange) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([this, t] { Worker(1000 + t); });
  for (std::thread& thread : threads) thread.join();

  // Last published event per (type, kind): subject when added, "" when removed.
  std::map<std::pair<ivo::CertificateType, bool>, std::string> expected;
  for (const ivo::CertificateEvent& event : Events()) {
    for (ivo::CertificateType type = 1; type <= 4; ++type) {
      for (bool client : {false, true}) {
        const auto types =
            client ? ivo::EventTypesOf<ivo::ClientCertificate>(type) : ivo::EventTypesOf<ivo::ServerCertificate>(type);
        if (event.eventType == types.added)
          expected[{type, client}] = std::string(event.fields[0].data.string8().view());
        if (event.eventType == types.removed) expected[{type, client}] = "";
      }
    }
  }
  for (ivo::CertificateType type = 1; type <= 4; ++type) {
    const std::string server = QueryServer(type);
    const std::string client = QueryClient(type);
    auto holds = [](const std::string& json, const std::string& subject) {
      return subject.empty() ? json.empty() : json.find("\"Subject\":\"" + subject + "\"") != std::string::npos;
    };
    EXPECT_TRUE(holds(server, expected[{type, false}])) << "server type " << type << ": " << server;
    EXPECT_TRUE(holds(client, expected[{type, true}])) << "client type " << type << ": " << client;
  }
  EXPECT_EQ(m_host.storageMutex().nestedAcquisitions(), 0u);
}

}  // namespace
