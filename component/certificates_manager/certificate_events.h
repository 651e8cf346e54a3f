// The events the certificates manager publishes.
#pragma once

#include <vector>

#include "certificates_manager/cert_parser/cert_parser.h"
#include "ivo/events.h"
#include "ozo/services.h"

namespace ivo {

// Initiator of the manager's own changes (kind 2, no details) and of the
// policy's (kind 0, no details).
ChangeInitiator ProductInitiator();
ChangeInitiator SecurityCenterInitiator();

// Appends the six certificate fields in order: Subject, Issuer, SerialNumber,
// IssuingDate, ExpirationDate, Thumbprint. Dates are read as local time by
// mktime and stored as 100-ns counts since 1601. A field that cannot be
// appended for lack of memory is dropped. Throws when a date cannot be
// converted (std::system_error or ozo::datetime::TimeSystemError).
void FillCertificateEventFields(CertificateEvent& event, const Certificate& certificate);

// An event of `eventType` (severity 4, the time now or -1) with the
// initiator copied and the certificate's fields.
CertificateEvent MakeCertificateEvent(std::uint32_t eventType, const ChangeInitiator& initiator,
                                      const Certificate& certificate);

// Hands each event to the host's publisher, in order, ignoring each call's
// result. The publisher is asked for even when there is nothing to publish;
// without one this throws CheckResultFailedException (line 278, "Cannot get
// IEventPublisher interface", traced on `tracer`). Takes no lock.
void PublishEvents(ozo::IServiceLocator* locator, ozo::ITracer* tracer, const std::vector<CertificateEvent>& events);
void PublishEvent(ozo::IServiceLocator* locator, ozo::ITracer* tracer, const CertificateEvent& event);

}  // namespace ivo
