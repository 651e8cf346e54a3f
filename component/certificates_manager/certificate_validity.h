// Whether a certificate is valid now.
#pragma once

#include <cstdint>
#include <ctime>

#include "certificates_manager/cert_parser/cert_parser.h"
#include "ozo/services.h"

namespace ivo {

// Seconds since the epoch of calendar fields taken as UTC in the proleptic
// Gregorian calendar (timegm on normalised fields; weekday, day of year, DST
// and zone members are ignored).
std::int64_t UtcSeconds(const std::tm& time) noexcept;

// True when `certificate` is not valid at `now`: now >= notAfter or now <
// notBefore (valid from the very second of notBefore, expired at the very
// second of notAfter). Dates before the year 1601 cannot be converted and
// count as expired, with a level-300 record. An expired certificate is
// described in a level-800 record. Never fails.
bool IsCertificateExpired(const Certificate& certificate, ozo::ITracer* tracer, std::time_t now);
// The same against the clock.
bool IsCertificateExpired(const Certificate& certificate, ozo::ITracer* tracer);

}  // namespace ivo
