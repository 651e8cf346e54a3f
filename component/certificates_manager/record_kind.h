// Everything that differs between the two kinds of stored certificate, the
// server certificate and the client container, in one description per kind:
// where its records live, which policy setting and events belong to it, how
// a record is decoded, compared and copied, and the check sites that report
// its failures. Code written once for both kinds takes it as RecordKind<T>.
#pragma once

#include <cstdint>

#include "certificates_manager/cert_parser/cert_parser.h"
#include "ivo/certificate_records.h"
#include "ivo/certificate_type_table.h"

namespace ivo {

// A failure report's fixed parts: line, checked expression and message (the
// file is the reporting unit's).
struct CheckSite {
  std::int32_t line;
  const char* expression;
  const char* message;
};

// Event types published when a certificate is added or removed.
struct CertificateEventTypes {
  std::uint32_t added;
  std::uint32_t removed;
};

template <class T>
struct RecordKind;

template <>
struct RecordKind<ServerCertificate> {
  static constexpr const char* kSet = kServerCertificatesSet;
  static constexpr std::uint32_t CertificateTypeIds::*kSetting = &CertificateTypeIds::serverSetting;
  static constexpr std::uint32_t CertificateTypeIds::*kAdded = &CertificateTypeIds::serverAdded;
  static constexpr std::uint32_t CertificateTypeIds::*kRemoved = &CertificateTypeIds::serverRemoved;

  static ozo::result_t Parse(ozo::ITracer* tracer, const ServerCertificate& record, Certificate& out) noexcept {
    return ParseServerCertificate(tracer, record.certificate, out);
  }
  // The same blob bytes.
  static bool Equal(const ServerCertificate& a, const ServerCertificate& b) { return a.certificate == b.certificate; }
  // A get hands out the stored bytes only.
  static void CopyStored(const ServerCertificate& stored, ServerCertificate& out) {
    out.certificate = stored.certificate;
  }

  // The manager's reports.
  static constexpr CheckSite kParse{615, "ParseServerCertificate(GetTracer(), blob, out)",
                                    "Cannot parse server certificate"};
  static constexpr CheckSite kStartup{294, "LoadStep<ServerCertificate>(events)", "Cannot check server certificates"};
  // The storage's reports, one per public operation.
  static constexpr CheckSite kSave{86, "SaveCertificate(m_serverCertificates, type, cert)",
                                   "Cannot save server certificate to the storage"};
  static constexpr CheckSite kGet{116, "GetCertificate(m_serverCertificates, type, cert)",
                                  "Cannot get server certificate from storage"};
  static constexpr CheckSite kRemove{161, "RemoveCertificate(m_serverCertificates, type)",
                                     "Cannot server certificate from storage"};
  static constexpr CheckSite kLoad{187, "LoadCertificates(m_serverCertificates, certificates)",
                                   "Cannot load server certificates"};
};

template <>
struct RecordKind<ClientCertificate> {
  static constexpr const char* kSet = kClientCertificatesSet;
  static constexpr std::uint32_t CertificateTypeIds::*kSetting = &CertificateTypeIds::clientSetting;
  static constexpr std::uint32_t CertificateTypeIds::*kAdded = &CertificateTypeIds::clientAdded;
  static constexpr std::uint32_t CertificateTypeIds::*kRemoved = &CertificateTypeIds::clientRemoved;

  static ozo::result_t Parse(ozo::ITracer* tracer, const ClientCertificate& record, Certificate& out) noexcept {
    return ParseClientCertificate(tracer, record.certificate, record.password, out);
  }
  // The same blob bytes and the same password characters.
  static bool Equal(const ClientCertificate& a, const ClientCertificate& b) {
    return a.certificate == b.certificate && a.password == b.password;
  }
  // A get hands out the container and its password.
  static void CopyStored(const ClientCertificate& stored, ClientCertificate& out) { out = stored; }

  static constexpr CheckSite kParse{609, "ParseClientCertificate(GetTracer(), blob, cert.password, out)",
                                    "Cannot parse client certificate"};
  static constexpr CheckSite kStartup{296, "LoadStep<ClientCertificate>(events)", "Cannot check client certificates"};
  static constexpr CheckSite kSave{95, "SaveCertificate(m_clientCertificates, type, cert)",
                                   "Cannot save client certificate to the storage"};
  static constexpr CheckSite kGet{125, "GetCertificate(m_clientCertificates, type, cert)",
                                  "Cannot get client certificate from storage"};
  static constexpr CheckSite kRemove{170, "RemoveCertificate(m_clientCertificates, type)",
                                     "Cannot client certificate from storage"};
  static constexpr CheckSite kLoad{196, "LoadCertificates(m_clientCertificates, certificates)",
                                   "Cannot load client certificates"};
};

// The per-type values of a kind, for types 1 to 4 only.
template <class T>
std::uint32_t SettingIdOf(CertificateType type) noexcept {
  return kCertificateTypeIds[type - 1].*RecordKind<T>::kSetting;
}
template <class T>
CertificateEventTypes EventTypesOf(CertificateType type) noexcept {
  const CertificateTypeIds& row = kCertificateTypeIds[type - 1];
  return {row.*RecordKind<T>::kAdded, row.*RecordKind<T>::kRemoved};
}

}  // namespace ivo
