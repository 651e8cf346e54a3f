#include "host/storage/record_descriptors.h"

#include <iterator>

#include "ivo/certificate_records.h"
#include "ivo/events.h"

// The records are standard-layout in practice; offsetof on them is what the
// serializer needs.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace host {
namespace {

template <class T, std::size_t N>
ozo::StructDescriptor Describe(const char* name, const ozo::FieldDescriptor (&fields)[N]) {
  return {T::TypeId, name, sizeof(T), fields, static_cast<std::uint32_t>(N), OperationsOf<T>()};
}

const ozo::FieldDescriptor kServerFields[] = {
    {"certificate", ozo::FieldKind::Blob, offsetof(ivo::ServerCertificate, certificate)},
};
const ozo::FieldDescriptor kClientFields[] = {
    {"certificate", ozo::FieldKind::Blob, offsetof(ivo::ClientCertificate, certificate)},
    {"password", ozo::FieldKind::String8, offsetof(ivo::ClientCertificate, password)},
};
const ozo::FieldDescriptor kRuntimeFieldFields[] = {
    {"name", ozo::FieldKind::UInt32, offsetof(ivo::RuntimeField, name)},
    {"data", ozo::FieldKind::Variant, offsetof(ivo::RuntimeField, data)},
};
const ozo::FieldDescriptor kAdditionalFieldFields[] = {
    {"name", ozo::FieldKind::UInt32, offsetof(ivo::AdditionalField, name)},
    {"data", ozo::FieldKind::Variant, offsetof(ivo::AdditionalField, data)},
};

}  // namespace

const ozo::StructDescriptor* ServerCertificateDescriptor() {
  static const ozo::StructDescriptor d = Describe<ivo::ServerCertificate>("ServerCertificate", kServerFields);
  return &d;
}
const ozo::StructDescriptor* ClientCertificateDescriptor() {
  static const ozo::StructDescriptor d = Describe<ivo::ClientCertificate>("ClientCertificate", kClientFields);
  return &d;
}
const ozo::StructDescriptor* RuntimeFieldDescriptor() {
  static const ozo::StructDescriptor d = Describe<ivo::RuntimeField>("RuntimeField", kRuntimeFieldFields);
  return &d;
}
const ozo::StructDescriptor* AdditionalFieldDescriptor() {
  static const ozo::StructDescriptor d = Describe<ivo::AdditionalField>("AdditionalField", kAdditionalFieldFields);
  return &d;
}

}  // namespace host
