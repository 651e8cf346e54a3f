#include "ozo/error_handling/callstack.h"

#include <elf.h>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ozo/result_messages.h"

namespace ozo::callstack {
namespace {

constexpr const char* kFile = "component/ozo/error_handling/source/posix/callstack";
constexpr std::int32_t kOpenMapsLine = 142;
const char* g_mapsPath = "/proc/self/maps";
thread_local bool t_capturing = false;

class CaptureScope {
 public:
  CaptureScope() noexcept { t_capturing = true; }
  ~CaptureScope() { t_capturing = false; }
  CaptureScope(const CaptureScope&) = delete;
  CaptureScope& operator=(const CaptureScope&) = delete;
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const noexcept { return m_fd; }

 private:
  int m_fd;
};

std::vector<std::uintptr_t> CollectAddresses() {
  std::vector<void*> frames(64);
  int count = 0;
  for (;;) {
    count = ::backtrace(frames.data(), static_cast<int>(frames.size()));
    if (static_cast<std::size_t>(count) < frames.size()) break;
    frames.resize(frames.size() * 2);
  }
  std::vector<std::uintptr_t> addresses;
  if (static_cast<std::size_t>(count) > kSkippedFrames) {
    addresses.reserve(count - kSkippedFrames);
    for (int i = static_cast<int>(kSkippedFrames); i < count; ++i)
      addresses.push_back(reinterpret_cast<std::uintptr_t>(frames[i]));
  }
  return addresses;
}

std::string ReadProcessMaps() {
  FileDescriptor fd(::open(g_mapsPath, O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) ThrowCheckFailed(kFile, kOpenMapsLine, ResultFromErrno(errno));
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

// Splits off the next whitespace-separated field of `line`.
std::string_view NextField(std::string_view& line) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(start);
  const std::size_t end = line.find_first_of(" \t");
  std::string_view field = line.substr(0, end);
  line.remove_prefix(end == std::string_view::npos ? line.size() : end);
  return field;
}

std::uintptr_t ParseNumber(std::string_view text, int base) {
  std::string copy(text);
  return static_cast<std::uintptr_t>(std::strtoull(copy.c_str(), nullptr, base));
}

}  // namespace

std::vector<ModuleInfo> ParseProcessMaps(std::string_view maps) {
  std::vector<ModuleInfo> modules;
  while (!maps.empty()) {
    const std::size_t eol = maps.find('\n');
    std::string_view line = maps.substr(0, eol);
    maps.remove_prefix(eol == std::string_view::npos ? maps.size() : eol + 1);

    const std::string_view range = NextField(line);
    const std::string_view permissions = NextField(line);
    const std::string_view offset = NextField(line);
    NextField(line);  // device
    const std::string_view inode = NextField(line);
    const std::size_t pathStart = line.find_first_not_of(" \t");
    const std::string_view path = pathStart == std::string_view::npos ? std::string_view() : line.substr(pathStart);
    const std::size_t dash = range.find('-');
    if (dash == std::string_view::npos || inode.empty() || ParseNumber(inode, 0) == 0) continue;
    const std::uintptr_t start = ParseNumber(range.substr(0, dash), 16);
    const std::uintptr_t end = ParseNumber(range.substr(dash + 1), 16);
    if (!modules.empty() && modules.back().path == path) {
      modules.back().size = end - modules.back().base;
    } else {
      const bool header = !permissions.empty() && permissions[0] == 'r' && ParseNumber(offset, 16) == 0;
      modules.push_back({std::string(path), {}, start, end - start, header ? end - start : 0});
    }
  }
  return modules;
}

void KeepModulesHolding(std::vector<ModuleInfo>& modules, const std::vector<std::uintptr_t>& addresses) {
  std::vector<ModuleInfo> kept;
  for (ModuleInfo& module : modules) {
    for (std::uintptr_t address : addresses) {
      if (module.base <= address && address < module.base + module.size) {
        kept.push_back(std::move(module));
        break;
      }
    }
  }
  modules.swap(kept);
}

std::string ReadBuildId(std::uintptr_t base, std::size_t size) noexcept {
  auto inside = [&](std::uintptr_t at, std::size_t length) {
    return at >= base && length <= size && at - base <= size - length;
  };
  if (!inside(base, sizeof(Elf64_Ehdr))) return {};
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(base);
  if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 || header->e_ident[EI_VERSION] != EV_CURRENT ||
      header->e_ident[EI_CLASS] != ELFCLASS64 || header->e_phentsize != sizeof(Elf64_Phdr))
    return {};
  const std::uintptr_t table = base + header->e_phoff;
  if (!inside(table, std::size_t{header->e_phnum} * sizeof(Elf64_Phdr))) return {};
  const auto* segments = reinterpret_cast<const Elf64_Phdr*>(table);
  // The image's load bias: where its first loadable segment landed.
  std::uintptr_t bias = base;
  for (unsigned i = 0; i < header->e_phnum; ++i) {
    if (segments[i].p_type == PT_LOAD) {
      bias = base -
             (segments[i].p_vaddr & ~static_cast<std::uintptr_t>(segments[i].p_align ? segments[i].p_align - 1 : 0));
      break;
    }
  }
  for (unsigned i = 0; i < header->e_phnum; ++i) {
    if (segments[i].p_type != PT_NOTE) continue;
    const std::uintptr_t note = bias + segments[i].p_vaddr;
    // Images carry several note segments (GNU properties first, as a rule):
    // the build id is the one whose first note is NT_GNU_BUILD_ID of "GNU".
    if (!inside(note, sizeof(Elf64_Nhdr))) continue;
    const auto* noteHeader = reinterpret_cast<const Elf64_Nhdr*>(note);
    const std::uintptr_t name = note + sizeof(Elf64_Nhdr);
    const std::uintptr_t descriptor = name + ((noteHeader->n_namesz + 3u) & ~3u);
    if (noteHeader->n_type != NT_GNU_BUILD_ID || noteHeader->n_namesz != 4 || !inside(name, 4) ||
        std::memcmp(reinterpret_cast<const void*>(name), "GNU", 4) != 0 || !inside(descriptor, noteHeader->n_descsz))
      continue;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    try {
      const auto* bytes = reinterpret_cast<const unsigned char*>(descriptor);
      for (std::size_t b = 0; b < noteHeader->n_descsz; ++b) {
        id.push_back(kHex[bytes[b] >> 4]);
        id.push_back(kHex[bytes[b] & 0xF]);
      }
    } catch (...) {
      return {};
    }
    return id;
  }
  return {};
}

std::string FormatLocation(std::uintptr_t address, const std::vector<ModuleInfo>& modules) {
  char hex[24];
  for (const ModuleInfo& module : modules) {
    if (module.base + module.size < address) continue;
    if (address < module.base) break;
    std::snprintf(hex, sizeof(hex), "%lx", static_cast<unsigned long>(address - module.base));
    return module.path + "!" + module.buildId + "!" + hex;
  }
  std::snprintf(hex, sizeof(hex), "%lx", static_cast<unsigned long>(address));
  return hex;
}

void Capture(ExceptionData& data) {
  data.callStack = CollectAddresses();
  if (t_capturing) return;
  CaptureScope scope;
  std::vector<ModuleInfo> modules = ParseProcessMaps(ReadProcessMaps());
  KeepModulesHolding(modules, data.callStack);
  for (ModuleInfo& module : modules) module.buildId = ReadBuildId(module.base, module.headerBytes);
  data.modules = std::move(modules);
}

void SetProcessMapsPathForTesting(const char* path) noexcept { g_mapsPath = path ? path : "/proc/self/maps"; }

}  // namespace ozo::callstack
