#include "certificates_manager/certificates_storage.h"

#include <type_traits>

#include "certificates_manager/certificate_types.h"
#include "certificates_manager/record_kind.h"
#include "ivo_common/tools_03.h"
#include "ivo_tracing/tracing.h"
#include "ozo/error_handling/check.h"
#include "ozo/trace/trace_stream.h"
#include "ozo/util/anyptr_helpers.h"

namespace ivo {
namespace {

using ozo::result_t;
using ozo::trace::CheckLocation;
namespace results = ozo::results;

constexpr const char* kFile = "certificates_manager/certificates_storage";

void TraceEntry(ozo::ITracer* tracer, const char* name) noexcept {
  ozo::trace::Trace(tracer, ozo::trace_level::Info, name, "() ");
}

// A public operation's failure report for a kind's check site.
void TraceFailure(ozo::ITracer* tracer, const CheckSite& site, result_t result) noexcept {
  ozo::trace::TraceFailedCheck(tracer, CheckLocation{kFile, site.line, site.expression}, result, site.message);
}

}  // namespace

CertificatesStorage::CertificatesStorage(ozo::IServiceLocator* locator)
    : m_locator(locator), m_tracer(MakePrefixTracer(locator, "CertificatesStorage")) {
  TraceEntry(m_tracer.get(), "CertificatesStorage");
  const result_t result = locator->GetInterface(ozo::kStorageRootServiceId, 0, m_root.RefVoid());
  if (ozo::Failed(result))
    ozo::FailCheck(m_tracer.get(), CheckLocation{kFile, 54, "GetInterface(GetServiceLocator(), m_root.Ref())"}, result,
                   "Cannot get ozo::IPersistentStorage interface");
  m_serverCertificates = OpenSet(RecordKind<ServerCertificate>::kSet, 59);
  m_clientCertificates = OpenSet(RecordKind<ClientCertificate>::kSet, 64);
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info, "CertificatesStorage", "() <- ");
}

ozo::ref_ptr<SynchronizedStorage> CertificatesStorage::OpenSet(const char* name, std::int32_t line) {
  ozo::ref_ptr<SynchronizedStorage> set = MakeSynchronizedStorage(m_locator.get());
  ozo::ref_ptr<ozo::IStorage> node;
  result_t result = m_root->GetNode(name, node.Ref());
  if (result == results::FileNotFound || result == results::PathNotFound || result == results::NotFound)
    result = m_root->AppendNode(name, node.Ref());
  if (ozo::Failed(result))
    ozo::FailCheck(m_tracer.get(), CheckLocation{kFile, line, "CreateNode(m_root, name, node)"}, result,
                   "Failed to create the ", name, " node");
  set->Storage() = std::move(node);
  return set;
}

CertificatesStorage::~CertificatesStorage() {
  TraceEntry(m_tracer.get(), "~CertificatesStorage");
  if (m_serverCertificates) m_serverCertificates->Flush();
  if (m_clientCertificates) m_clientCertificates->Flush();
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info, "~CertificatesStorage", "() <- ");
}

template <class T>
SynchronizedStorage& CertificatesStorage::SetOf() noexcept {
  return std::is_same_v<T, ClientCertificate> ? *m_clientCertificates : *m_serverCertificates;
}

template <class T>
result_t CertificatesStorage::SaveCertificate(CertificateType type, const T& cert) {
  TraceEntry(m_tracer.get(), "SaveCertificate");
  const result_t result = SaveHelper(SetOf<T>(), type, cert);
  if (ozo::Failed(result)) {
    TraceFailure(m_tracer.get(), RecordKind<T>::kSave, result);
    return result;
  }
  return results::NoError;
}

template <class T>
result_t CertificatesStorage::SaveHelper(SynchronizedStorage& node, CertificateType type, const T& cert) {
  TraceEntry(m_tracer.get(), "SaveCertificate");
  const char* key = GetStorageKey(type);
  const result_t result = node.AppendNode(key, tools::MakeAnyStruct(m_locator.get(), cert), false);
  if (ozo::Failed(result))
    ozo::trace::TraceFailedCheck(
        m_tracer.get(),
        CheckLocation{kFile, 106, "node->AppendNode(name, tools::MakeAnyStruct(GetServiceLocator(), cert))"}, result,
        "Cannot add add new node ", key);
  return result;
}

template <class T>
result_t CertificatesStorage::GetCertificate(CertificateType type, T& cert) {
  TraceEntry(m_tracer.get(), "GetCertificate");
  const result_t result = GetHelper(SetOf<T>(), type, cert);
  if (ozo::Failed(result)) {
    TraceFailure(m_tracer.get(), RecordKind<T>::kGet, result);
    return result;
  }
  return results::NoError;
}

template <class T>
result_t CertificatesStorage::GetHelper(SynchronizedStorage& node, CertificateType type, T& cert) {
  TraceEntry(m_tracer.get(), "GetCertificate");
  const char* key = GetStorageKey(type);
  ozo::any_struct_t value;
  result_t result = FixErrorCode(node.GetNode(key, value));
  if (ozo::Succeeded(result)) {
    const T* stored = ozo::StructCast<T>(value);
    if (stored) {
      RecordKind<T>::CopyStored(*stored, cert);
      result = results::NoError;
    } else {
      result = results::UnspecifiedError;
    }
  }
  if (ozo::Failed(result))
    ozo::trace::TraceFailedCheck(m_tracer.get(), CheckLocation{kFile, 145, "FixErrorCode(node->GetNode(name, any))"},
                                 result, "Cannot get node ", key);
  return result;
}

template <class T>
result_t CertificatesStorage::LoadCertificates(std::vector<T>& certificates) {
  TraceEntry(m_tracer.get(), "LoadCertificates");
  const result_t result = LoadHelper(SetOf<T>(), certificates);
  if (ozo::Failed(result)) {
    TraceFailure(m_tracer.get(), RecordKind<T>::kLoad, result);
    return result;
  }
  return results::NoError;
}

template <class T>
result_t CertificatesStorage::LoadHelper(SynchronizedStorage& node, std::vector<T>& certificates) {
  std::uint32_t count = 0;
  const result_t result = node.GetNodesCount(count);
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(m_tracer.get(), CheckLocation{kFile, 205, "node->GetNodesCount(count)"}, result,
                                 "Cannot get certificates from storage");
    return result;
  }
  std::vector<T> loaded;
  loaded.reserve(count);
  for (std::uint32_t index = 0; index < count; ++index) {
    ozo::any_struct_t value;
    if (ozo::Failed(node.GetNode(index, value))) continue;  // vanished since the count, or unreadable
    if (const T* stored = ozo::StructCast<T>(value)) loaded.push_back(*stored);
  }
  certificates.swap(loaded);
  return results::NoError;
}

template <class T>
result_t CertificatesStorage::RemoveCertificate(CertificateType type) {
  TraceEntry(m_tracer.get(), "RemoveCertificate");
  const result_t result = RemoveHelper(SetOf<T>(), type);
  if (ozo::Failed(result)) {
    TraceFailure(m_tracer.get(), RecordKind<T>::kRemove, result);
    return result;
  }
  return results::NoError;
}

result_t CertificatesStorage::RemoveHelper(SynchronizedStorage& node, CertificateType type) {
  const char* key = GetStorageKey(type);
  const result_t result = FixErrorCode(node.RemoveNode(key));
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(m_tracer.get(), CheckLocation{kFile, 178, "FixErrorCode(node->RemoveNode(name))"},
                                 result, "Cannot remove the node ", key);
    return result;
  }
  return results::NoError;
}

// The two kinds.
template result_t CertificatesStorage::SaveCertificate(CertificateType, const ServerCertificate&);
template result_t CertificatesStorage::SaveCertificate(CertificateType, const ClientCertificate&);
template result_t CertificatesStorage::GetCertificate(CertificateType, ServerCertificate&);
template result_t CertificatesStorage::GetCertificate(CertificateType, ClientCertificate&);
template result_t CertificatesStorage::LoadCertificates(std::vector<ServerCertificate>&);
template result_t CertificatesStorage::LoadCertificates(std::vector<ClientCertificate>&);
template result_t CertificatesStorage::RemoveCertificate<ServerCertificate>(CertificateType);
template result_t CertificatesStorage::RemoveCertificate<ClientCertificate>(CertificateType);

}  // namespace ivo
