#include "certificates_manager/certificates_manager.h"

#include "certificates_manager/certificate_events.h"
#include "certificates_manager/certificate_validity.h"
#include "certificates_manager/certificates_manager_internal.h"
#include "certificates_manager/record_kind.h"
#include "ivo_tracing/tracing.h"
#include "ozo/error_handling/check.h"

namespace ivo {

using manager::At;
using ozo::result_t;
namespace results = ozo::results;

CertificatesManager::CertificatesManager(ozo::IServiceLocator* locator)
    : ServiceProvider(locator), TracerProvider(MakePrefixTracer(locator, "CertificatesManager")), m_storage(locator) {
  ozo::trace::Trace(GetTracer(), ozo::trace_level::Info, "CertificatesManager", "() ");
  std::vector<CertificateEvent> events;
  LoadStep<ServerCertificate>(events);
  LoadStep<ClientCertificate>(events);
  PublishEvents(GetServiceLocator(), GetTracer(), events);
  ozo::trace::Trace(GetTracer(), ozo::trace_level::Info, "CertificatesManager", "() <- ");
}

CertificatesManager::~CertificatesManager() {
  ozo::trace::Trace(GetTracer(), ozo::trace_level::Info, "~CertificatesManager", "() ");
}

template <class T>
void CertificatesManager::LoadStep(std::vector<CertificateEvent>& events) {
  std::vector<T> certs;
  const result_t result = m_storage.LoadCertificates(certs);
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(GetTracer(), At(633, "m_storage.LoadCertificates(certs)"), result,
                                 "Cannot load certificates from storage");
    constexpr CheckSite kStartup = RecordKind<T>::kStartup;
    ozo::FailCheck(GetTracer(), At(kStartup.line, kStartup.expression), result, kStartup.message);
  }
  for (const T& record : certs) {
    Certificate certificate;
    if (ozo::Failed(ParseCertificate(record, certificate))) continue;  // stays in storage, reported above
    if (IsCertificateExpired(certificate, GetTracer()))
      events.push_back(MakeCertificateEvent(CertificateExpiredEvent, ProductInitiator(), certificate));
  }
}

template <class T>
result_t CertificatesManager::ParseCertificate(const T& record, Certificate& out) {
  const result_t result = RecordKind<T>::Parse(GetTracer(), record, out);
  if (ozo::Failed(result)) {
    constexpr CheckSite kParse = RecordKind<T>::kParse;
    ozo::trace::TraceFailedCheck(GetTracer(), At(kParse.line, kParse.expression), result, kParse.message);
  }
  return result;
}
template result_t CertificatesManager::ParseCertificate(const ServerCertificate&, Certificate&);
template result_t CertificatesManager::ParseCertificate(const ClientCertificate&, Certificate&);

result_t CertificatesManager::GetServerCertificate(CertificateType type, ServerCertificate& cert) {
  return Operation("GetServerCertificate", type, [&] {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_storage.GetCertificate(type, cert);
  });
}

result_t CertificatesManager::GetClientCertificate(CertificateType type, ClientCertificate& cert) {
  return Operation("GetClientCertificate", type, [&] {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_storage.GetCertificate(type, cert);
  });
}

result_t CertificatesManager::GetServerPemCertificate(CertificateType type, ServerCertificate& cert) {
  return Operation("GetServerPemCertificate", type, [&] {
    ServerCertificate tmp;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      const result_t result = m_storage.GetCertificate(type, tmp);
      if (ozo::Failed(result)) {
        ozo::trace::TraceFailedCheck(GetTracer(), At(474, "GetCertificate(type, tmp)"), result);
        return result;
      }
    }
    const result_t result = ConvertDerToPem(GetTracer(), tmp.certificate, cert.certificate);
    if (ozo::Failed(result)) {
      ozo::trace::TraceFailedCheck(GetTracer(),
                                   At(476, "ConvertDerToPem(GetTracer(), tmp.certificate, cert.certificate)"), result);
      return result;
    }
    return results::NoError;  // also when the stored certificate was PEM already
  });
}

template <class T>
ozo::string8_t CertificatesManager::FormatToJson(CertificateType type) {
  manager::TraceEntry(GetTracer(), "FormatToJson", type);
  T record;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (ozo::Failed(m_storage.GetCertificate(type, record))) return ozo::string8_t();
  }
  Certificate certificate;
  const result_t result = ParseCertificate(record, certificate);
  if (ozo::Failed(result)) ozo::ThrowCheckFailed(manager::kFile, 598, result);
  return ozo::string8_t(CertificateToJson(certificate));
}

template <class T>
result_t CertificatesManager::Query(const char* name, CertificateType type, ozo::string8_t& json) {
  return Operation(name, type, [&] {
    ozo::string8_t document = FormatToJson<T>(type);
    if (document.empty()) return results::False;
    json = document.view();  // assigned: `json` keeps the allocator it came with
    ozo::trace::Trace(GetTracer(), ozo::trace_level::Info, name, "() <- ", "json=", json.view());
    return results::NoError;
  });
}

result_t CertificatesManager::QueryServerCertificate(CertificateType type, ozo::string8_t& json) {
  return Query<ServerCertificate>("QueryServerCertificate", type, json);
}

result_t CertificatesManager::QueryClientCertificate(CertificateType type, ozo::string8_t& json) {
  return Query<ClientCertificate>("QueryClientCertificate", type, json);
}

}  // namespace ivo
