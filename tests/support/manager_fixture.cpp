#include "tests/support/manager_fixture.h"

#include <map>
#include <mutex>

#include "ozo/module.h"

namespace test {
namespace {

// Memoised: ECDSA signatures are randomised, and a test that sets a
// certificate twice means the same bytes.
ozo::blob_t Server(const std::string& commonName, const char* notBefore, const char* notAfter, bool pem = false) {
  static std::mutex mutex;
  static std::map<std::string, ozo::blob_t> made;
  const std::string key = commonName + notBefore + notAfter + (pem ? "pem" : "der");
  std::lock_guard<std::mutex> lock(mutex);
  auto found = made.find(key);
  if (found != made.end()) return found->second;
  CertificateParams params;
  params.subject = {{"CN", commonName}, {"O", "Test Org"}};
  params.issuer = Name{{"CN", "Test CA"}};
  params.serial = {0x0A, 0xFF, 0x00};
  params.notBefore = notBefore;
  params.notAfter = notAfter;
  return made[key] = pem ? MakePem(params) : MakeDer(params);
}

}  // namespace

ozo::blob_t ValidServerDer(const std::string& commonName) {
  return Server(commonName, "20200101000000Z", "21000101000000Z");
}
ozo::blob_t ValidServerPem(const std::string& commonName) {
  return Server(commonName, "20200101000000Z", "21000101000000Z", true);
}
ozo::blob_t ExpiredServerDer() { return Server("expired", "20000101000000Z", "20010101000000Z"); }
ozo::blob_t NotYetValidServerDer() { return Server("future", "22000101000000Z", "22100101000000Z"); }

ozo::blob_t ClientContainer(const std::string& commonName, const std::string& password) {
  static std::mutex mutex;
  static std::map<std::string, ozo::blob_t> made;
  std::lock_guard<std::mutex> lock(mutex);
  auto found = made.find(commonName + '\0' + password);
  if (found != made.end()) return found->second;
  Pkcs12Params params;
  params.certificate.subject = {{"CN", commonName}};
  params.password = password;
  params.iterations = 1;  // fast tests; the iteration count changes nothing here
  return made[commonName + '\0' + password] = MakePkcs12(params);
}

ivo::ChangeInitiator User(std::uint32_t id, const char16_t* name) {
  ivo::ChangeInitiator initiator;
  initiator.kind = ivo::ChangeInitiator::User;
  initiator.details.emplace();
  initiator.details->id = id;
  initiator.details->name = name;
  return initiator;
}

ManagerTest::~ManagerTest() {
  m_manager.Reset();
  EXPECT_EQ(ozoCanUnloadModule(), 0) << "an object of the module outlived its test";
}

ozo::result_t ManagerTest::Create() {
  ozo::ref_ptr<ozo::IObject> object;
  const ozo::result_t result = ozoCreateObject(ivo::ClsIdCertificatesManager, m_host.locatorAddress(), object.Ref());
  if (ozo::Succeeded(result)) {
    EXPECT_EQ(ozo::QueryInterface(object.get(), m_manager), 0);
  }
  return result;
}

ozo::result_t ManagerTest::SetServer(ivo::CertificateType type, const ozo::blob_t& blob) {
  return m_manager->SetServerCertificate(type, ivo::ServerCertificate{blob}, User());
}

ozo::result_t ManagerTest::SetClient(ivo::CertificateType type, const ozo::blob_t& blob, const char* password) {
  return m_manager->SetClientCertificate(type, ivo::ClientCertificate(blob, password), User());
}

std::string ManagerTest::QueryServer(ivo::CertificateType type) {
  ozo::string8_t json;
  return m_manager->QueryServerCertificate(type, json) == 0 ? std::string(json.view()) : std::string();
}

std::string ManagerTest::QueryClient(ivo::CertificateType type) {
  ozo::string8_t json;
  return m_manager->QueryClientCertificate(type, json) == 0 ? std::string(json.view()) : std::string();
}

void ManagerTest::StoreClient(ivo::PeerType type, const ozo::blob_t& blob, const char* password) {
  ASSERT_EQ(m_host.base().WriteRecord(type, ivo::ClientCertificate(blob, password)), 0);
}

}  // namespace test
