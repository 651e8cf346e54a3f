// A long-lived host: 100,000 mixed operations on one manager over the
// reference host with its defaults (nothing recorded). Its resident memory
// after a warm-up must stay flat: a host that lives for months keeps nothing
// per operation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "host/service_host.h"
#include "ivo/certificates_manager.h"
#include "ozo/module.h"
#include "tests/support/manager_fixture.h"

namespace {

// Resident set size in bytes, from /proc/self/statm.
long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

TEST(Soak, ResidentMemoryStaysFlatOverAHundredThousandOperations) {
  host::ServiceHost host;  // the defaults a real host gets
  ozo::ref_ptr<ozo::IObject> object;
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
  ASSERT_EQ(ozoCreateObject(ivo::ClsIdCertificatesManager, host.locatorAddress(), object.Ref()), 0);
  ASSERT_EQ(ozo::QueryInterface(object.get(), manager), 0);
  const ivo::ServerCertificate servers[] = {{test::ValidServerDer("one")}, {test::ValidServerPem("two")}};
  const ivo::ClientCertificate client(test::ClientContainer("agent", "pw"), "pw");
  const ivo::ChangeInitiator user = test::User();

  // One operation of a fixed mix: changes, reads and queries of every kind.
  auto operate = [&](long i) {
    const ivo::CertificateType type = static_cast<ivo::CertificateType>(1 + i % 4);
    ivo::ServerCertificate server;
    ivo::ClientCertificate stored;
    ozo::string8_t json;
    switch (i % 8) {
      case 0:
        return manager->SetServerCertificate(type, servers[(i / 8) % 2], user);
      case 1:
        return manager->GetServerCertificate(type, server);
      case 2:
        return manager->QueryServerCertificate(type, json);
      case 3:
        return manager->SetClientCertificate(type, client, user);
      case 4:
        return manager->GetServerPemCertificate(type, server);
      case 5:
        return manager->GetClientCertificate(type, stored);
      case 6:
        return i % 16 == 6 ? manager->RemoveClientCertificate(type, user) : manager->QueryClientCertificate(type, json);
      default:
        return i % 24 == 7 ? manager->RemovePolicyServerCertificate(type) : manager->GetClientCertificate(type, stored);
    }
  };
  // Reads of a slot just emptied are "Not found"; nothing else may fail.
  auto expected = [](ozo::result_t result) { return ozo::Succeeded(result) || result == ozo::results::NotFound; };
  constexpr long kWarmUp = 10000, kTotal = 100000;
  for (long i = 0; i < kWarmUp; ++i) ASSERT_PRED1(expected, operate(i)) << i;
  const long warm = ResidentBytes();
  for (long i = kWarmUp; i < kTotal; ++i) ASSERT_PRED1(expected, operate(i)) << i;
  const long grown = ResidentBytes() - warm;
  std::printf("resident after warm-up %ld KiB, grown over %ld operations: %ld KiB\n", warm / 1024, kTotal - kWarmUp,
              grown / 1024);
  EXPECT_LT(grown, 1024 * 1024);
}

}  // namespace
