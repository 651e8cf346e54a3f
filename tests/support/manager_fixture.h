// A certificates manager created through the module's factory on the host for
// tests, with short verbs for scenario tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/service_host.h"
#include "ivo/certificate_type_table.h"
#include "ivo/certificates_manager.h"
#include "tests/support/certificate_builder.h"
#include "tests/support/recording_host.h"

namespace test {

// Certificates valid from 2020 to 2100.
ozo::blob_t ValidServerDer(const std::string& commonName = "server");
ozo::blob_t ValidServerPem(const std::string& commonName = "server");
ozo::blob_t ClientContainer(const std::string& commonName, const std::string& password);
// Ended in 2001, or starting in 2200.
ozo::blob_t ExpiredServerDer();
ozo::blob_t NotYetValidServerDer();

ivo::ChangeInitiator User(std::uint32_t id = 7, const char16_t* name = u"admin");

class ManagerTest : public testing::Test {
 public:  // scenario tables drive it from outside
  explicit ManagerTest(host::HostOptions options = {}) : m_host(std::move(options)) {}
  ~ManagerTest() override;

  // Creates the manager; the result of ozoCreateObject.
  ozo::result_t Create();
  void CreateOrFail() { ASSERT_EQ(Create(), 0); }
  void Destroy() { m_manager.Reset(); }
  ivo::ICertificatesManager& manager() { return *m_manager; }

  ozo::result_t SetServer(ivo::CertificateType type, const ozo::blob_t& blob);
  ozo::result_t SetClient(ivo::CertificateType type, const ozo::blob_t& blob, const char* password);
  ozo::result_t RemoveServer(ivo::CertificateType type) { return m_manager->RemoveServerCertificate(type, User()); }
  ozo::result_t RemoveClient(ivo::CertificateType type) { return m_manager->RemoveClientCertificate(type, User()); }
  std::string QueryServer(ivo::CertificateType type);  // "" when not 0
  std::string QueryClient(ivo::CertificateType type);

  // Writes a record straight into the host's storage, as a previous run would.
  void StoreClient(ivo::PeerType type, const ozo::blob_t& blob, const char* password);

  std::vector<ivo::CertificateEvent> Events() const { return m_host.events().events().items(); }

  test::RecordingHost m_host;
  ozo::ref_ptr<ivo::ICertificatesManager> m_manager;
};

}  // namespace test
