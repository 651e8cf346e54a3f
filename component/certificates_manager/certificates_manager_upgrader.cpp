#include "certificates_manager/certificates_manager_upgrader.h"

#include "ivo/certificates_manager.h"
#include "ivo_tracing/tracing.h"
#include "ozo/error_handling/result_from_exception.h"
#include "ozo/storage/storage_copy.h"
#include "ozo/trace/trace_stream.h"

namespace ivo {
namespace {

using ozo::result_t;
using ozo::trace::CheckLocation;

constexpr const char* kFile = "certificates_manager/certificates_manager_upgrader";

result_t AppendNodeCallback(ozo::IStorage* destination, ozo::cstr8_t name, ozo::IStorage** child, std::uint32_t) {
  return destination->AppendNode(name, child);
}

}  // namespace

CertificatesManagerPersistentDataUpgrader::CertificatesManagerPersistentDataUpgrader(ozo::IServiceLocator* locator)
    : m_locator(locator), m_tracer(MakePrefixTracer(locator, "CertificatesManagerPersistentDataUpgrader")) {
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info, "CertificatesManagerPersistentDataUpgrader", "() ");
}

CertificatesManagerPersistentDataUpgrader::~CertificatesManagerPersistentDataUpgrader() {
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info, "~CertificatesManagerPersistentDataUpgrader", "() ");
}

result_t CertificatesManagerPersistentDataUpgrader::Upgrade(ozo::IPersistentStorage* oldStore,
                                                            ozo::IPersistentStorage* newStore) {
  return ozo::CallAndConvert(m_tracer.get(), "Upgrade", [&]() -> result_t {
    ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info, "Upgrade", "() ");
    ozo::ref_ptr<ozo::IStorage> oldStorage;
    const result_t res = oldStore->GetStorage(ClsIdCertificatesManager, oldStorage.Ref());
    if (res == ozo::results::NotFound) {
      ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info, "Upgrade", "() <- ",
                        "Old storage not found. Do nothing");
      return ozo::results::False;
    }
    if (ozo::Failed(res)) {
      ozo::trace::TraceFailedCheck(m_tracer.get(), CheckLocation{kFile, 52, "res"}, res, "Cannot get old storage");
      return res;
    }
    ozo::ref_ptr<ozo::IStorage> newStorage;
    result_t result = newStore->GetStorage(ClsIdCertificatesManager, newStorage.Ref());
    if (ozo::Failed(result)) {
      ozo::trace::TraceFailedCheck(
          m_tracer.get(), CheckLocation{kFile, 55, "newStore->GetStorage(ClsIdCertificatesManager, newStorage.Ref())"},
          result, "Cannot get new storage");
      return result;
    }
    result = ozo::storage::Copy(oldStorage.get(), newStorage.get(), &AppendNodeCallback, true);
    if (ozo::Failed(result)) {
      ozo::trace::TraceFailedCheck(m_tracer.get(),
                                   CheckLocation{kFile, 57, "ozo::storage::Copy(oldStorage, newStorage)"}, result,
                                   "Cannot copy storage content");
      return result;
    }
    ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info, "Upgrade", "() <- ", "Storage successfully copied");
    return ozo::results::NoError;
  });
}

}  // namespace ivo
