#include "certificates_manager/certificate_events.h"

#include <ctime>

#include "ivo_utils/date_to_string_and_viceversa.h"
#include "ozo/datetime/posix_datetime.h"
#include "ozo/error_handling/check.h"

namespace ivo {
namespace {

using ozo::types::variant_t;

constexpr const char* kFile = "certificates_manager/certificates_manager";
constexpr std::uint64_t kIntervalsFrom1601To1970 = 116444736000000000ull;

// 100-ns intervals since 1601 of the record's calendar fields, read as local time.
std::uint64_t EventDate(const std::tm& date) {
  std::tm copy = date;
  const std::time_t seconds = MakeTimeT(copy);
  return static_cast<std::uint64_t>(ozo::datetime::PosixToUtcTime(seconds, 0)) + kIntervalsFrom1601To1970;
}

void Append(CertificateEvent& event, std::uint32_t fieldId, variant_t value) noexcept {
  RuntimeField field;
  field.name = fieldId;
  field.data = std::move(value);
  (void)event.fields.try_push_back(std::move(field));  // out of memory: the field is dropped
}

// A text value; the text ends at its first NUL, as a C string would.
variant_t Text(const std::string& text) { return variant_t::FromString8(ozo::string8_t(text.c_str())); }

}  // namespace

ChangeInitiator ProductInitiator() {
  ChangeInitiator initiator;
  initiator.kind = ChangeInitiator::Product;
  return initiator;
}

ChangeInitiator SecurityCenterInitiator() {
  ChangeInitiator initiator;
  initiator.kind = ChangeInitiator::SecurityCenter;
  return initiator;
}

void FillCertificateEventFields(CertificateEvent& event, const Certificate& certificate) {
  Append(event, event_field::Subject, Text(certificate.subject));
  Append(event, event_field::Issuer, Text(certificate.issuer));
  Append(event, event_field::SerialNumber, Text(ToHexString(certificate.serialNumber)));
  Append(event, event_field::IssuingDate, variant_t::FromDateTime(EventDate(certificate.notBefore)));
  Append(event, event_field::ExpirationDate, variant_t::FromDateTime(EventDate(certificate.notAfter)));
  Append(event, event_field::Thumbprint, Text(ToHexString(certificate.sha1)));
}

CertificateEvent MakeCertificateEvent(std::uint32_t eventType, const ChangeInitiator& initiator,
                                      const Certificate& certificate) {
  CertificateEvent event;
  event.eventType = eventType;
  event.severity = EventSeverityInformational;
  event.initiator = initiator;
  event.time = static_cast<std::int64_t>(std::time(nullptr));
  FillCertificateEventFields(event, certificate);
  return event;
}

void PublishEvents(ozo::IServiceLocator* locator, ozo::ITracer* tracer, const std::vector<CertificateEvent>& events) {
  ozo::ref_ptr<IEventPublisher> publisher;
  const ozo::result_t result = ozo::GetInterface(locator, publisher);
  if (ozo::Failed(result))
    ozo::FailCheck(tracer, ozo::trace::CheckLocation{kFile, 278, "GetInterface(GetServiceLocator(), publisher.Ref())"},
                   result, "Cannot get IEventPublisher interface");
  for (const CertificateEvent& event : events) (void)publisher->Publish(&event);
}

void PublishEvent(ozo::IServiceLocator* locator, ozo::ITracer* tracer, const CertificateEvent& event) {
  PublishEvents(locator, tracer, std::vector<CertificateEvent>{event});
}

}  // namespace ivo
