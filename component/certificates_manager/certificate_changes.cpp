// The manager's change operations: set and remove, locally under the policy
// check or as delivered by the policy.
#include <optional>

#include "certificates_manager/certificate_events.h"
#include "certificates_manager/certificate_validity.h"
#include "certificates_manager/certificates_manager.h"
#include "certificates_manager/certificates_manager_internal.h"
#include "certificates_manager/record_kind.h"
#include "ivo/policy.h"

namespace ivo {

using manager::At;
using ozo::result_t;
namespace results = ozo::results;

template <class T>
result_t CertificatesManager::CanBeChangedInPolicyTerms(CertificateType type) {
  ozo::ref_ptr<IPolicyProvider> policy;
  const result_t lookup = ozo::GetInterface(GetServiceLocator(), policy);
  if (ozo::Failed(lookup)) {
    ozo::trace::TraceFailedCheck(GetTracer(), At(312, "GetInterface(GetServiceLocator(), policy.Ref())"), lookup,
                                 "Cannot get IPolicyProvider interface");
    return lookup;
  }
  PolicyChangeQuery query;
  query.settingId = SettingIdOf<T>(type);
  query.values.push_back(PolicyValue{ozo::string8_t("Certificate"), ozo::string8_t("")});
  ozo::string16_t reason;
  return policy->CheckChangePermission(&query, &reason);
}

template <class T>
result_t CertificatesManager::SetCertificateWithPolicyCheck(CertificateType type, const T& cert,
                                                            const ChangeInitiator& initiator) {
  manager::TraceEntry(GetTracer(), "SetCertificateWithPolicyCheck", type);
  const result_t allowed = CanBeChangedInPolicyTerms<T>(type);
  if (ozo::Failed(allowed)) {
    ozo::trace::TraceFailedCheck(GetTracer(), At(395, "CanBeChangedInPolicyTerms<T>(type)"), allowed);
    return allowed;
  }
  return SetCertificateInternal(type, cert, initiator);
}

template <class T>
result_t CertificatesManager::SetCertificateInternal(CertificateType type, const T& cert,
                                                     const ChangeInitiator& initiator) noexcept {
  // The manager's lock lives inside the body: it is released before an
  // exception is converted.
  return ozo::CallAndConvert(GetTracer(), "SetCertificateInternal", [&]() -> result_t {
    manager::TraceEntry(GetTracer(), "SetCertificateInternal", type);
    Certificate newCertificate;
    result_t result = ParseCertificate(cert, newCertificate);
    if (ozo::Failed(result)) {
      ozo::trace::TraceFailedCheck(GetTracer(), At(418, "ParseCertificate(cert, newCertificate)"), result);
      return result;
    }
    if (IsCertificateExpired(newCertificate, GetTracer())) return results::CertificateOutOfValidityPeriod;

    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<Certificate> oldCertificate;
    {
      T current;
      if (ozo::Succeeded(m_storage.GetCertificate(type, current))) {
        if (RecordKind<T>::Equal(current, cert)) return results::False;
        oldCertificate.emplace();
        result = ParseCertificate(current, *oldCertificate);
        if (ozo::Failed(result)) {  // an undecodable stored certificate is not replaced by a set
          ozo::trace::TraceFailedCheck(GetTracer(), At(434, "ParseCertificate(current, *oldCertificate)"), result);
          return result;
        }
      }
    }
    if (oldCertificate) {
      result = m_storage.RemoveCertificate<T>(type);
      if (ozo::Failed(result)) {
        ozo::trace::TraceFailedCheck(GetTracer(), At(440, "m_storage.RemoveCertificate(type, T())"), result);
        return result;
      }
    }
    result = m_storage.SaveCertificate(type, cert);
    if (ozo::Failed(result)) {
      ozo::trace::TraceFailedCheck(GetTracer(), At(442, "m_storage.SaveCertificate(type, cert)"), result);
      return result;
    }
    const CertificateEventTypes eventTypes = EventTypesOf<T>(type);
    std::vector<CertificateEvent> events;
    if (oldCertificate) events.push_back(MakeCertificateEvent(eventTypes.removed, ProductInitiator(), *oldCertificate));
    events.push_back(MakeCertificateEvent(eventTypes.added, initiator, newCertificate));
    PublishEvents(GetServiceLocator(), GetTracer(), events);
    ozo::trace::Trace(GetTracer(), ozo::trace_level::Info, "SetCertificateInternal", "() <- ");
    return results::NoError;
  });
}

template <class T>
result_t CertificatesManager::RemoveCertificateWithPolicyCheck(CertificateType type, const ChangeInitiator& initiator) {
  manager::TraceEntry(GetTracer(), "RemoveCertificateWithPolicyCheck", type);
  const result_t allowed = CanBeChangedInPolicyTerms<T>(type);
  if (ozo::Failed(allowed)) {
    ozo::trace::TraceFailedCheck(GetTracer(), At(513, "CanBeChangedInPolicyTerms<T>(type)"), allowed);
    return allowed;
  }
  return RemoveCertificate<T>(type, initiator);
}

template <class T>
result_t CertificatesManager::RemoveCertificate(CertificateType type, const ChangeInitiator& initiator) {
  manager::TraceEntry(GetTracer(), "RemoveCertificate", type);
  std::lock_guard<std::mutex> lock(m_mutex);
  T cert;
  if (ozo::Failed(m_storage.GetCertificate(type, cert))) return results::False;  // nothing to remove
  result_t result = m_storage.RemoveCertificate<T>(type);
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(GetTracer(), At(539, "m_storage.RemoveCertificate(type, cert)"), result);
    return result;
  }
  Certificate certificate;
  result = ParseCertificate(cert, certificate);
  if (ozo::Failed(result)) {  // the undecodable record is gone: that is how it is cleared
    ozo::trace::TraceFailedCheck(GetTracer(), At(542, "ParseCertificate(cert, certificate)"), result);
    return result;
  }
  PublishEvent(GetServiceLocator(), GetTracer(),
               MakeCertificateEvent(EventTypesOf<T>(type).removed, initiator, certificate));
  return results::NoError;
}

result_t CertificatesManager::SetServerCertificate(CertificateType type, const ServerCertificate& cert,
                                                   const ChangeInitiator& initiator) {
  return Operation("SetServerCertificate", type, [&] { return SetCertificateWithPolicyCheck(type, cert, initiator); });
}

result_t CertificatesManager::SetClientCertificate(CertificateType type, const ClientCertificate& cert,
                                                   const ChangeInitiator& initiator) {
  return Operation("SetClientCertificate", type, [&] { return SetCertificateWithPolicyCheck(type, cert, initiator); });
}

result_t CertificatesManager::SetPolicyServerCertificate(CertificateType type, const ServerCertificate& cert) {
  return Operation("SetPolicyServerCertificate", type,
                   [&] { return SetCertificateInternal(type, cert, SecurityCenterInitiator()); });
}

result_t CertificatesManager::SetPolicyClientCertificate(CertificateType type, const ClientCertificate& cert) {
  return Operation("SetPolicyClientCertificate", type,
                   [&] { return SetCertificateInternal(type, cert, SecurityCenterInitiator()); });
}

result_t CertificatesManager::RemoveServerCertificate(CertificateType type, const ChangeInitiator& initiator) {
  return Operation("RemoveServerCertificate", type,
                   [&] { return RemoveCertificateWithPolicyCheck<ServerCertificate>(type, initiator); });
}

result_t CertificatesManager::RemoveClientCertificate(CertificateType type, const ChangeInitiator& initiator) {
  return Operation("RemoveClientCertificate", type,
                   [&] { return RemoveCertificateWithPolicyCheck<ClientCertificate>(type, initiator); });
}

result_t CertificatesManager::RemovePolicyServerCertificate(CertificateType type) {
  return Operation("RemovePolicyServerCertificate", type,
                   [&] { return RemoveCertificate<ServerCertificate>(type, SecurityCenterInitiator()); });
}

result_t CertificatesManager::RemovePolicyClientCertificate(CertificateType type) {
  return Operation("RemovePolicyClientCertificate", type,
                   [&] { return RemoveCertificate<ClientCertificate>(type, SecurityCenterInitiator()); });
}

}  // namespace ivo
