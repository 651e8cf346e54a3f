#include "certificates_manager/certificates_manager.h"

#include "certificates_manager/certificate_events.h"
#include "certificates_manager/certificate_validity.h"
#include "certificates_manager/certificates_manager_internal.h"
#include "ivo_tracing/tracing.h"
#include "ozo/error_handling/check.h"

namespace ivo {

using manager::At;
using ozo::result_t;
namespace results = ozo::results;

namespace {

// The start-up check's line and message per kind.
template <class T>
struct StartupCheck;
template <>
struct StartupCheck<ServerCertificate> {
  static constexpr std::int32_t kLine = 294;
  static constexpr const char* kMessage = "Cannot check server certificates";
};
template <>
struct StartupCheck<ClientCertificate> {
  static constexpr std::int32_t kLine = 296;
  static constexpr const char* kMessage = "Cannot check client certificates";
};

}  // namespace

CertificatesManager::CertificatesManager(ozo::IServiceLocator* locator)
    : ServiceProvider(locator), TracerProvider(MakePrefixTracer(locator, "CertificatesManager")), m_storage(locator) {
  ozo::trace::Trace(GetTracer(), ozo::trace_level::Info, "CertificatesManager", "() ");
  std::vector<CertificateEvent> events;
  if (const result_t result = LoadStep<ServerCertificate>(events); ozo::Failed(result))
    ozo::FailCheck(GetTracer(), At(StartupCheck<ServerCertificate>::kLine, "LoadStep<ServerCertificate>(events)"),
                   result, StartupCheck<ServerCertificate>::kMessage);
  if (const result_t result = LoadStep<ClientCertificate>(events); ozo::Failed(result))
    ozo::FailCheck(GetTracer(), At(StartupCheck<ClientCertificate>::kLine, "LoadStep<ClientCertificate>(events)"),
                   result, StartupCheck<ClientCertificate>::kMessage);
  PublishEvents(GetServiceLocator(), GetTracer(), events);
  ozo::trace::Trace(GetTracer(), ozo::trace_level::Info, "CertificatesManager", "() <- ");
}

CertificatesManager::~CertificatesManager() {
  ozo::trace::Trace(GetTracer(), ozo::trace_level::Info, "~CertificatesManager", "() ");
}

template <class T>
result_t CertificatesManager::LoadStep(std::vector<CertificateEvent>& events) {
  std::vector<T> certs;
  const result_t result = m_storage.LoadCertificates(certs);
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(GetTracer(), At(633, "m_storage.LoadCertificates(certs)"), result,
                                 "Cannot load certificates from storage");
    return result;
  }
  for (const T& record : certs) {
    Certificate certificate;
    if (ozo::Failed(ParseCertificate(record, certificate))) continue;  // stays in storage, reported above
    if (IsCertificateExpired(certificate, GetTracer()))
      events.push_back(MakeCertificateEvent(CertificateExpiredEvent, ProductInitiator(), certificate));
  }
  return results::NoError;
}

result_t CertificatesManager::ParseCertificate(const ServerCertificate& record, Certificate& out) {
  const result_t result = ParseServerCertificate(GetTracer(), record.certificate, out);
  if (ozo::Failed(result))
    ozo::trace::TraceFailedCheck(GetTracer(), At(615, "ParseServerCertificate(GetTracer(), blob, out)"), result,
                                 "Cannot parse server certificate");
  return result;
}

result_t CertificatesManager::ParseCertificate(const ClientCertificate& record, Certificate& out) {
  const result_t result = ParseClientCertificate(GetTracer(), record.certificate, record.password, out);
  if (ozo::Failed(result))
    ozo::trace::TraceFailedCheck(GetTracer(), At(609, "ParseClientCertificate(GetTracer(), blob, cert.password, out)"),
                                 result, "Cannot parse client certificate");
  return result;
}

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
