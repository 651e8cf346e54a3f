// ivo::CertificatesManager: the object behind ClsIdCertificatesManager.
#pragma once

#include <mutex>
#include <vector>

#include "certificates_manager/cert_parser/cert_parser.h"
#include "certificates_manager/certificates_storage.h"
#include "ivo/certificates_manager.h"
#include "ivo/events.h"
#include "ozo/object/object_impl.h"
#include "ozo/object/providers.h"

namespace ivo {

// Keeps, per certificate type, one server and one client certificate in the
// host's storage (through m_storage) and publishes events on their changes.
//
// Every operation writes its entry record first, then refuses types outside 1
// to 4 with "Invalid argument" before touching policy, storage or events. No
// exception leaves an operation: each converts what reaches it into a result
// with a level-300 record.
//
// Locking: one non-recursive mutex guards every access to m_storage. Reads
// hold it for the storage read only and decode, convert and render after
// releasing it. Changes check the policy and decode and test the new
// certificate first, then hold it from the read of the current record to the
// end of the change, the publication of its events included; so the event
// publisher must not call back into the manager on the same thread. The
// policy provider is called without it.
class CertificatesManager : public ozo::object::Ifaces<ICertificatesManager>,
                            public ozo::ServiceProvider<ozo::IServiceLocator>,
                            public ozo::TracerProvider,
                            ozo::object::NonCopyable {
 public:
  // Sets up the storage, then reports every stored certificate outside its
  // validity period with one CertificateExpired event (server certificates
  // first). Undecodable records are traced and skipped. Throws when the
  // tracer, the storage, the listing of stored records or the event
  // publisher is missing or fails; the factory turns that into its result.
  explicit CertificatesManager(ozo::IServiceLocator* locator);

  ozo::result_t SetServerCertificate(CertificateType type, const ServerCertificate& cert,
                                     const ChangeInitiator& initiator) override;
  ozo::result_t SetClientCertificate(CertificateType type, const ClientCertificate& cert,
                                     const ChangeInitiator& initiator) override;
  ozo::result_t SetPolicyServerCertificate(CertificateType type, const ServerCertificate& cert) override;
  ozo::result_t SetPolicyClientCertificate(CertificateType type, const ClientCertificate& cert) override;
  ozo::result_t GetServerCertificate(CertificateType type, ServerCertificate& cert) override;
  ozo::result_t GetServerPemCertificate(CertificateType type, ServerCertificate& cert) override;
  ozo::result_t GetClientCertificate(CertificateType type, ClientCertificate& cert) override;
  ozo::result_t RemoveServerCertificate(CertificateType type, const ChangeInitiator& initiator) override;
  ozo::result_t RemoveClientCertificate(CertificateType type, const ChangeInitiator& initiator) override;
  ozo::result_t RemovePolicyServerCertificate(CertificateType type) override;
  ozo::result_t RemovePolicyClientCertificate(CertificateType type) override;
  ozo::result_t QueryServerCertificate(CertificateType type, ozo::string8_t& json) override;
  ozo::result_t QueryClientCertificate(CertificateType type, ozo::string8_t& json) override;

 protected:
  // Flushes the storage through its destruction; releases the tracer, then
  // the locator.
  ~CertificatesManager();

 private:
  // Start-up: one kind's stored records, decoded and tested; an event for
  // each one outside its validity period. Throws when the set cannot be read.
  template <class T>
  void LoadStep(std::vector<CertificateEvent>& events);

  // Decodes a record with the tracer, tracing a failure at the kind's site.
  template <class T>
  ozo::result_t ParseCertificate(const T& record, Certificate& out);

  // Entry record, type check and exception conversion around `body`.
  template <class Body>
  ozo::result_t Operation(const char* name, CertificateType type, Body&& body) noexcept;

  template <class T>
  ozo::result_t CanBeChangedInPolicyTerms(CertificateType type);
  template <class T>
  ozo::result_t SetCertificateWithPolicyCheck(CertificateType type, const T& cert, const ChangeInitiator& initiator);
  template <class T>
  ozo::result_t SetCertificateInternal(CertificateType type, const T& cert, const ChangeInitiator& initiator) noexcept;
  template <class T>
  ozo::result_t RemoveCertificateWithPolicyCheck(CertificateType type, const ChangeInitiator& initiator);
  template <class T>
  ozo::result_t RemoveCertificate(CertificateType type, const ChangeInitiator& initiator);

  // The JSON document of the type's stored certificate, or empty when none
  // can be read. Throws when the stored bytes cannot be parsed (line 598).
  template <class T>
  ozo::string8_t FormatToJson(CertificateType type);
  template <class T>
  ozo::result_t Query(const char* name, CertificateType type, ozo::string8_t& json);

  std::mutex m_mutex;
  CertificatesStorage m_storage;
};

}  // namespace ivo
