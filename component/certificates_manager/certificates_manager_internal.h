// Pieces shared by the manager's lifetime, read and change code.
#pragma once

#include "certificates_manager/certificate_types.h"
#include "certificates_manager/certificates_manager.h"
#include "ozo/error_handling/result_from_exception.h"
#include "ozo/trace/trace_stream.h"

namespace ivo::manager {

inline constexpr const char* kFile = "certificates_manager/certificates_manager";

// Writes "<name>() Certificate type: <display name>" at level 800.
inline void TraceEntry(ozo::ITracer* tracer, const char* name, CertificateType type) noexcept {
  ozo::trace::Trace(tracer, ozo::trace_level::Info, name, "() ", "Certificate type: ", GetCertificateTypeName(type));
}

// Records and refuses a type outside 1 to 4.
inline ozo::result_t RefuseType(ozo::ITracer* tracer, CertificateType type) noexcept {
  ozo::trace::TraceFailedBoolCheck(
      tracer, ozo::trace::CheckLocation{kFile, 120, "IsValidCertificateType(type)", ozo::trace::kBoolCondition},
      "Invalid certificate type ", type);
  return ozo::results::InvalidArgument;
}

inline ozo::trace::CheckLocation At(std::int32_t line, const char* expression) noexcept {
  return ozo::trace::CheckLocation{kFile, line, expression};
}

}  // namespace ivo::manager

namespace ivo {

template <class Body>
ozo::result_t CertificatesManager::Operation(const char* name, CertificateType type, Body&& body) noexcept {
  manager::TraceEntry(GetTracer(), name, type);
  if (!IsValidCertificateType(type)) return manager::RefuseType(GetTracer(), type);
  return ozo::CallAndConvert(GetTracer(), name, body);
}

}  // namespace ivo
