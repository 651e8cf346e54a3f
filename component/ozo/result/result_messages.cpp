#include "ozo/result_messages.h"

#include <algorithm>
#include <iterator>

namespace ozo {
namespace {

struct CodeMessage {
  std::uint32_t code;
  std::string_view message;
};

// Facility 0, sorted by code for binary search.
constexpr CodeMessage kGeneralMessages[] = {
    {0x00000000, "No error"},
    {0x00000001, "False"},
    {0x80000001, "Interface not supported"},
    {0x80000040, "Unexpected"},
    {0x80000041, "Out of memory"},
    {0x80000042, "Not supported"},
    {0x80000043, "Not implemented"},
    {0x80000044, "Buffer too small"},
    {0x80000045, "Access denied"},
    {0x80000046, "Invalid argument"},
    {0x80000047, "Bad cast"},
    {0x8000004A, "Not matched"},
    {0x8000004B, "Unspecified error"},
    {0x8000004C, "Not found"},
    {0x8000004D, "Found"},
    {0x8000004F, "Locked"},
    {0x80000050, "Not locked"},
    {0x80000051, "Operation cancelled"},
    {0x80000057, "Method not found"},
    {0x80000058, "Stack is empty"},
    {0x80000059, "Media error"},
    {0x8000005A, "Invalid signature"},
    {0x8000005B, "Invalid version"},
    {0x8000005C, "Invalid size"},
    {0x8000005D, "Invalid type"},
    {0x8000005E, "Out of range"},
    {0x80000062, "Out of space"},
    {0x80000063, "Not ready"},
    {0x80000064, "Less than"},
    {0x80000065, "More than"},
    {0x80000066, "Prohibited"},
    {0x80000067, "Already done"},
    {0x80000068, "Need reboot"},
    {0x80000069, "Bases corrupted"},
    {0x8000006A, "Invalid state"},
    {0x8000006B, "Not initialized"},
    {0x8000006C, "Insufficient resources"},
    {0x80000071, "Invalid result"},
    {0x80000072, "Unknown exception"},
    {0x80000076, "Meta information not found"},
    {0x80000077, "Numerical type overflow"},
    {0x80000078, "File is too big"},
    {0x80000079, "Trace level ok"},
    {0x8000007A, "Trace level prohibited"},
    {0x80000100, "Class not found"},
    {0x80000101, "Settings are required"},
    {0x80000102, "Unexpected settings"},
    {0x80000103, "Wrong settings type"},
    {0x80000104, "Wrong settings revision"},
    {0x80000105, "Settings not found"},
    {0x80000106, "Object is untrusted"},
    {0x80000150, "No current exception"},
    {0x80000151, "Exception has no result code"},
    {0x80000152, "Exception with successful result code"},
    {0x80000180, "Property not found"},
    {0x80000221, "Operation timeout"},
    {0x80000300, "Invalid symbol"},
    {0x80000301, "Non dec symbol"},
    {0x80000302, "Non hex symbol"},
    {0x80000303, "Non base64 symbol"},
    {0x80000310, "Syntax error"},
    {0x80000311, "GUID syntax error"},
    {0x80000312, "OID syntax error"},
    {0x80000313, "DateTime syntax error"},
};

// Facility 1, indexed by code - 0x80010100; empty entries have no message.
constexpr std::string_view kPlatformMessages[] = {
    "Unspecified platform error",
    "Invalid handle",
    "File not found",
    "Path not found",
    "Sharing violation",
    "Already exists",
    "Wait abandoned",
    "Symbol not found",
    "Sxs is incorrect",
    "Invalid path name",
    {},
    {},
    {},
    {},
    {},
    {},
    "Cannot open an anonymous level security token",
    "Password is invalid",
    "Module not found",
    "System image bad signature",
    "Cloud file request aborted",
    "Memory mapping failed",
    "Network error",
    "System image bad format",
    "System shutdown in progress",
};

constexpr std::string_view kUnknown = "Unknown result code";
constexpr std::uint32_t kPlatformBase = 0x80010100;

struct ErrnoResult {
  std::int32_t error;
  std::uint32_t result;
};

constexpr ErrnoResult kErrnoResults[] = {
    {1, 0x80000045},  {2, 0x80010102},  {5, 0x80000059},  {8, 0x80010117},  {9, 0x80010101},  {12, 0x80000041},
    {13, 0x80000045}, {16, 0x8000004F}, {17, 0x80010105}, {20, 0x80010103}, {22, 0x80000046}, {26, 0x8000004F},
    {27, 0x80000078}, {28, 0x80000062}, {36, 0x8000005C}, {40, 0x8000006A}, {75, 0x80000044},
};

}  // namespace

std::string_view GetResultMessage(result_t result) noexcept {
  const auto code = static_cast<std::uint32_t>(result);
  switch (FacilityOf(result)) {
    case 0: {
      auto it = std::lower_bound(std::begin(kGeneralMessages), std::end(kGeneralMessages), code,
                                 [](const CodeMessage& m, std::uint32_t c) { return m.code < c; });
      return it != std::end(kGeneralMessages) && it->code == code ? it->message : kUnknown;
    }
    case 1: {
      const std::uint32_t index = code - kPlatformBase;
      if (index >= std::size(kPlatformMessages) || kPlatformMessages[index].empty()) return kUnknown;
      return kPlatformMessages[index];
    }
    default:
      return kUnknown;
  }
}

result_t ResultFromErrno(std::int32_t error) noexcept {
  if (error == 0) return results::NoError;
  for (const ErrnoResult& entry : kErrnoResults)
    if (entry.error == error) return static_cast<result_t>(entry.result);
  if (static_cast<std::uint32_t>(error) <= 0xFFFF)
    return static_cast<result_t>(0x80060000u | static_cast<std::uint32_t>(error));
  return results::UnspecifiedPlatformError;
}

}  // namespace ozo
