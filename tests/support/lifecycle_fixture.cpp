#include "tests/support/lifecycle_fixture.h"

#include "host/lifecycle/records.h"
#include "host/lifecycle/trust.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"
#include "ozo/module.h"
#include "tests/support/manager_fixture.h"

namespace test {

using ossl::UniquePtr;
namespace lifecycle = host::lifecycle;

LifecycleTest::LifecycleTest() {
  EXPECT_EQ(m_temporary.error(), "");
  const std::string anchor = m_ca.Pem();
  EXPECT_EQ(
      m_manager->SetServerCertificate(kType, ivo::ServerCertificate{ozo::blob_t(anchor.data(), anchor.size())}, User()),
      0);
  StorePair();
  m_store = std::make_unique<FaultyLifecycleStore>(*m_sqlite);
}

LifecycleTest::~LifecycleTest() { m_manager.Reset(); }

void LifecycleTest::StorePair(int days) {
  const UniquePtr<EVP_PKEY> key = NewTestKey();
  const std::vector<UniquePtr<X509>> certificate =
      ossl::ReadCertificates(m_ca.Issue(key.get(), "agent.test", kNow - 86400, days));
  const std::string container = ossl::MakeContainer(key.get(), certificate.front().get(), {}, "s3cret");
  EXPECT_EQ(
      m_manager->SetClientCertificate(
          kType, ivo::ClientCertificate(ozo::blob_t(container.data(), container.size()), ozo::string8_t("s3cret")),
          User()),
      0);
}

std::string LifecycleTest::SlotSerial() {
  ivo::ClientCertificate record;
  if (m_manager->GetClientCertificate(kType, record) != 0) return "";
  ossl::Container container;
  ossl::OpenContainer(
      std::string_view(reinterpret_cast<const char*>(record.certificate.data()), record.certificate.size()),
      record.password.c_str(), container);
  return container.certificate ? ossl::SerialHex(container.certificate.get()) : "unreadable";
}

std::string LifecycleTest::Pending() {
  lifecycle::PendingKey pending;
  if (m_sqlite->pendingKeys().Get(kType, pending) != 0) return "";
  return pending.certificates.empty() ? "key" : "key+certificate";
}

lifecycle::RenewalState LifecycleTest::State() {
  lifecycle::RenewalState state;
  m_sqlite->renewalStates().Get(kType, state);
  return state;
}

}  // namespace test
