// Events the certificates manager publishes, and the host's publisher.
#pragma once

#include <cstdint>

#include "ivo/certificate_records.h"
#include "ozo/object.h"
#include "ozo/types/variant.h"
#include "ozo/types/vector.h"

namespace ivo {

// One event field: an event-field id and its value.
struct RuntimeField {
  static constexpr std::uint32_t TypeId = 0xD1345CF5;

  std::uint32_t name = 0xFFFFFFFF;  // field id
  ozo::types::variant_t data;
};

// Same layout as RuntimeField, for the second (additional) list.
struct AdditionalField {
  static constexpr std::uint32_t TypeId = 0x0EFA8E30;

  std::uint32_t name = 0xFFFFFFFF;
  ozo::types::variant_t data;
};

// Event-field ids of the certificate fields, in the order events carry them.
namespace event_field {
constexpr std::uint32_t Subject = 103;
constexpr std::uint32_t Issuer = 104;
constexpr std::uint32_t SerialNumber = 134;
constexpr std::uint32_t IssuingDate = 135;
constexpr std::uint32_t ExpirationDate = 106;
constexpr std::uint32_t Thumbprint = 145;
}  // namespace event_field

// Event type published for every stored certificate found outside its
// validity period at start-up.
constexpr std::uint32_t CertificateExpiredEvent = 146;
constexpr std::uint32_t EventSeverityInformational = 4;

struct CertificateEvent {
  std::uint64_t reserved = 0;
  std::uint32_t eventType = 0;
  std::uint32_t severity = EventSeverityInformational;
  ChangeInitiator initiator;
  std::int64_t time = -1;  // seconds since 1970-01-01 UTC; -1 if unknown
  ozo::types::vector_t<RuntimeField> fields;
  ozo::types::vector_t<AdditionalField> additionalFields;
};

struct IEventPublisher : ozo::IObject {
  static constexpr ozo::iid_t IID = 0xDE3A4E4A;

  // Delivers one event; the event is only borrowed for the call.
  virtual ozo::result_t Publish(const CertificateEvent* event) = 0;

 protected:
  ~IEventPublisher() = default;
};

}  // namespace ivo
