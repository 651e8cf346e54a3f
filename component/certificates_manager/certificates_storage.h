// The certificates' layout in the host's storage: a server set and a client
// set under the component's storage root, one child per certificate type.
#pragma once

#include <vector>

#include "ivo/certificate_records.h"
#include "ivo_common/synchronized_storage.h"
#include "ozo/ref_ptr.h"
#include "ozo/services.h"

namespace ivo {

// Owns the "ServerCertificates" and "ClientCertificates" nodes of the storage
// root, each behind a SynchronizedStorage. Every operation returns 0 or the
// failing code, writing the failure records of both levels (the per-set
// helper's and the public operation's). A stored node of another structure
// type makes get and list throw (the typed view's exception). No lock of its
// own: each single call on a set is locked by that set's SynchronizedStorage;
// the owner serialises multi-step sequences. Only types 1 to 4 may be passed.
class CertificatesStorage {
 public:
  // Opens or creates the two set nodes. Throws CheckResultFailedException
  // (lines 54, 59, 64) or what SynchronizedStorage's construction throws.
  explicit CertificatesStorage(ozo::IServiceLocator* locator);
  // Flushes both sets (results ignored).
  ~CertificatesStorage();
  CertificatesStorage(const CertificatesStorage&) = delete;
  CertificatesStorage& operator=(const CertificatesStorage&) = delete;

  // The operations, for T = ServerCertificate or ClientCertificate (each
  // kind's records live in its own set; RecordKind<T> describes it).
  //
  // Appends the record under the type's key; an existing child of that key is
  // neither checked nor replaced by this call (callers remove it first).
  template <class T>
  ozo::result_t SaveCertificate(CertificateType type, const T& cert);
  // Reads the type's record into `cert` ("Not found" when none; `cert`
  // untouched on failure).
  template <class T>
  ozo::result_t GetCertificate(CertificateType type, T& cert);
  // Replaces `certificates` with all readable records of the set, in the
  // host's child order; unreadable children are skipped.
  template <class T>
  ozo::result_t LoadCertificates(std::vector<T>& certificates);
  // Removes the type's node from the kind's set.
  template <class T>
  ozo::result_t RemoveCertificate(CertificateType type);

 private:
  template <class T>
  SynchronizedStorage& SetOf() noexcept;
  template <class T>
  ozo::result_t SaveHelper(SynchronizedStorage& node, CertificateType type, const T& cert);
  template <class T>
  ozo::result_t GetHelper(SynchronizedStorage& node, CertificateType type, T& cert);
  template <class T>
  ozo::result_t LoadHelper(SynchronizedStorage& node, std::vector<T>& certificates);
  ozo::result_t RemoveHelper(SynchronizedStorage& node, CertificateType type);
  ozo::ref_ptr<SynchronizedStorage> OpenSet(const char* name, std::int32_t line);

  // Released in reverse order: client set, server set, root, tracer, locator.
  ozo::ref_ptr<ozo::IServiceLocator> m_locator;
  ozo::ref_ptr<ozo::ITracer> m_tracer;
  ozo::ref_ptr<ozo::IStorage> m_root;
  ozo::ref_ptr<SynchronizedStorage> m_serverCertificates;
  ozo::ref_ptr<SynchronizedStorage> m_clientCertificates;
};

// "Path not found" becomes "Not found"; other codes pass unchanged.
constexpr ozo::result_t FixErrorCode(ozo::result_t result) noexcept {
  return result == ozo::results::PathNotFound ? ozo::results::NotFound : result;
}

}  // namespace ivo
