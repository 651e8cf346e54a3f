// Result codes: the outcome of every operation that crosses an interface.
#pragma once

#include <cstdint>

namespace ozo {

// Signed 32-bit result code. Non-negative values are successes, negative ones
// failures. Bit 31 marks a failure, bits 16..30 carry the facility and bits
// 0..15 the code within the facility.
using result_t = std::int32_t;

constexpr bool Succeeded(result_t result) noexcept { return result >= 0; }
constexpr bool Failed(result_t result) noexcept { return result < 0; }

// Facility of a code: (code >> 16) & 0x7FFF.
constexpr std::uint32_t FacilityOf(result_t result) noexcept {
  return static_cast<std::uint32_t>(result >> 16) & 0x7FFFu;
}

// Named codes. Each constant's comment says where the framework returns it;
// every code with a message is listed in the message table of the runtime.
namespace results {
constexpr result_t Make(std::uint32_t bits) noexcept { return static_cast<result_t>(bits); }

constexpr result_t NoError = 0;
constexpr result_t False = 1;                                 // success with nothing done
constexpr result_t InterfaceNotSupported = Make(0x80000001);  // QueryInterface of an unknown id
constexpr result_t Unexpected = Make(0x80000040);
constexpr result_t OutOfMemory = Make(0x80000041);  // allocation failed
constexpr result_t NotSupported = Make(0x80000042);
constexpr result_t NotImplemented = Make(0x80000043);
constexpr result_t BufferTooSmall = Make(0x80000044);  // two-call name protocol, first call
constexpr result_t AccessDenied = Make(0x80000045);
constexpr result_t InvalidArgument = Make(0x80000046);
constexpr result_t BadCast = Make(0x80000047);
constexpr result_t NotMatched = Make(0x8000004A);
constexpr result_t UnspecifiedError = Make(0x8000004B);
constexpr result_t NotFound = Make(0x8000004C);
constexpr result_t Found = Make(0x8000004D);
constexpr result_t Locked = Make(0x8000004F);
constexpr result_t MediaError = Make(0x80000059);
constexpr result_t InvalidSize = Make(0x8000005C);
constexpr result_t InvalidType = Make(0x8000005D);  // a stored value of the wrong kind
constexpr result_t OutOfRange = Make(0x8000005E);
constexpr result_t OutOfSpace = Make(0x80000062);
constexpr result_t Prohibited = Make(0x80000066);
constexpr result_t BasesCorrupted = Make(0x80000069);  // a store that is not what it should be
constexpr result_t InvalidState = Make(0x8000006A);
constexpr result_t UnknownException = Make(0x80000072);
constexpr result_t MetaInformationNotFound = Make(0x80000076);  // no descriptor for a structure type id
constexpr result_t FileTooBig = Make(0x80000078);
constexpr result_t TraceLevelProhibited = Make(0x8000007A);  // a tracer refusing a record's level
constexpr result_t ClassNotFound = Make(0x80000100);
constexpr result_t NoCurrentException = Make(0x80000150);
constexpr result_t ExceptionHasNoResultCode = Make(0x80000151);
constexpr result_t ExceptionWithSuccessfulResultCode = Make(0x80000152);
constexpr result_t UnspecifiedPlatformError = Make(0x80010100);
constexpr result_t InvalidHandle = Make(0x80010101);
constexpr result_t FileNotFound = Make(0x80010102);
constexpr result_t PathNotFound = Make(0x80010103);
constexpr result_t AlreadyExists = Make(0x80010105);
constexpr result_t SystemImageBadFormat = Make(0x80010117);
// A certificate handed to the manager lies outside its validity period.
constexpr result_t CertificateOutOfValidityPeriod = Make(0xAD280050);
}  // namespace results

}  // namespace ozo

// The success test used in check texts ("OZO_SUCCEEDED(_result)").
#define OZO_SUCCEEDED(result) (::ozo::Succeeded(result))
