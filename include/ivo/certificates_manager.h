// ivo::ICertificatesManager: per certificate type, one trusted server
// certificate and one client certificate, kept in the host's storage.
#pragma once

#include "ivo/certificate_records.h"
#include "ozo/object.h"
#include "ozo/types/basic_string.h"

namespace ivo {

// Class id of the manager; also the key of its tree in the persistent store.
constexpr ozo::clsid_t ClsIdCertificatesManager = 0x27F2BC0F;

// Every operation takes the certificate type first and accepts 1 to 4; any
// other value is refused with "Invalid argument" (0x80000046) before policy,
// storage or events are touched. Any host thread may call any operation.
//
// Common results: 0 success; 1 ("False") nothing to do; 0xAD280050 the new
// certificate is outside its validity period; "Not found" (0x8000004C) no
// certificate of that kind is stored; other failures carry the failing
// service's or decoder's code.
struct ICertificatesManager : ozo::IObject {
  static constexpr ozo::iid_t IID = 0x43575ECB;

  // Local changes: refused with the policy provider's code when the policy
  // locks the type's setting. Replacing publishes "removed" (initiator kind 2)
  // then "added" (the caller's initiator).
  virtual ozo::result_t SetServerCertificate(CertificateType type, const ServerCertificate& cert,
                                             const ChangeInitiator& initiator) = 0;
  virtual ozo::result_t SetClientCertificate(CertificateType type, const ClientCertificate& cert,
                                             const ChangeInitiator& initiator) = 0;
  // Changes delivered by the policy: never checked, initiator kind 0.
  virtual ozo::result_t SetPolicyServerCertificate(CertificateType type, const ServerCertificate& cert) = 0;
  virtual ozo::result_t SetPolicyClientCertificate(CertificateType type, const ClientCertificate& cert) = 0;
  // The stored record as it was set.
  virtual ozo::result_t GetServerCertificate(CertificateType type, ServerCertificate& cert) = 0;
  // The stored server certificate as PEM text; pass an empty blob.
  virtual ozo::result_t GetServerPemCertificate(CertificateType type, ServerCertificate& cert) = 0;
  virtual ozo::result_t GetClientCertificate(CertificateType type, ClientCertificate& cert) = 0;
  virtual ozo::result_t RemoveServerCertificate(CertificateType type, const ChangeInitiator& initiator) = 0;
  virtual ozo::result_t RemoveClientCertificate(CertificateType type, const ChangeInitiator& initiator) = 0;
  virtual ozo::result_t RemovePolicyServerCertificate(CertificateType type) = 0;
  virtual ozo::result_t RemovePolicyClientCertificate(CertificateType type) = 0;
  // A JSON description of the stored certificate; 1 ("False") with `json`
  // untouched when none can be read.
  virtual ozo::result_t QueryServerCertificate(CertificateType type, ozo::string8_t& json) = 0;
  virtual ozo::result_t QueryClientCertificate(CertificateType type, ozo::string8_t& json) = 0;

 protected:
  ~ICertificatesManager() = default;
};

}  // namespace ivo
