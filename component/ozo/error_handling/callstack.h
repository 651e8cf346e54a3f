// Capture of the call stack at a throw, with the modules it runs through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ozo/error_handling/exception.h"

namespace ozo::callstack {

// Frames dropped from the innermost end: the capture and the exception's own
// construction.
constexpr std::size_t kSkippedFrames = 5;

// Fills `data` with the return addresses of the calling thread (innermost
// first, minus kSkippedFrames) and the modules that hold them, each with its
// GNU build id.
//
// When the process map cannot be opened this throws CheckResultFailedException
// (ResultFromErrno of the error). That exception's own capture runs nested:
// a capture started while another is under way on the same thread records
// addresses only and reads no map, so construction can never recurse, and the
// inner exception's frames print as bare addresses.
void Capture(ExceptionData& data);

// Parses process-map text into modules: lines with inode 0 are skipped and
// consecutive lines of one path form one module.
std::vector<ModuleInfo> ParseProcessMaps(std::string_view maps);

// Keeps only the modules that contain at least one of `addresses`.
void KeepModulesHolding(std::vector<ModuleInfo>& modules, const std::vector<std::uintptr_t>& addresses);

// The GNU build id of the ELF image mapped at `base` (`size` bytes readable),
// lowercase hex; empty when the image or its note cannot be read.
std::string ReadBuildId(std::uintptr_t base, std::size_t size) noexcept;

// "path!buildid!offset" for an address inside a module, bare hex otherwise.
std::string FormatLocation(std::uintptr_t address, const std::vector<ModuleInfo>& modules);

// Replaces the process map's path; for tests of the failure path. Null
// restores "/proc/self/maps".
void SetProcessMapsPathForTesting(const char* path) noexcept;

}  // namespace ozo::callstack
