#include "tools/certctl/input.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "tools/certctl/errors.h"

namespace certctl {
namespace {

constexpr const char* kKeywords[] = {"edr", "sandbox", "ndr", "siem"};

}  // namespace

ivo::CertificateType ParseType(const std::string& text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  for (ivo::CertificateType type = 1; type <= 4; ++type)
    if (lower == kKeywords[type - 1]) return type;
  if (!lower.empty() && std::all_of(lower.begin(), lower.end(), [](unsigned char c) { return std::isdigit(c); }) &&
      lower.size() <= 10) {
    const unsigned long long value = std::stoull(lower);
    if (value <= 0xFFFFFFFFull) return static_cast<ivo::CertificateType>(value);
  }
  throw Failure(kExitUsage, "unknown certificate type '" + text + "' (use edr, sandbox, ndr, siem or 1-4)");
}

const char* TypeKeyword(ivo::CertificateType type) { return type >= 1 && type <= 4 ? kKeywords[type - 1] : "?"; }

ozo::blob_t ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Failure(kExitUsage, "cannot read " + path + ": " + std::strerror(errno));
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw Failure(kExitUsage, "cannot read " + path);
  return ozo::blob_t(bytes.data(), bytes.size());
}

void WriteFileBytes(const std::string& path, const ozo::blob_t& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw Failure(kExitUsage, "cannot write " + path);
}

ozo::string8_t ReadPassword(const PasswordSource& source, const char* prompt) {
  if (!source.file.empty()) {
    std::ifstream file(source.file, std::ios::binary);
    if (!file) throw Failure(kExitUsage, "cannot read the password file " + source.file);
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ozo::string8_t password(line.data(), line.size());
    std::fill(line.begin(), line.end(), '\0');
    return password;
  }
  if (!source.environment.empty()) {
    const char* value = std::getenv(source.environment.c_str());
    if (!value) throw Failure(kExitUsage, "the environment variable " + source.environment + " is not set");
    return ozo::string8_t(value);
  }
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) throw Failure(kExitUsage, "no password given: use --password-file FILE or --password-env VARIABLE");
  termios saved{};
  const bool terminal = ::tcgetattr(tty, &saved) == 0;
  if (terminal) {
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(tty, TCSAFLUSH, &silent);
  }
  (void)!::write(tty, prompt, std::strlen(prompt));
  ozo::string8_t password;
  char c = 0;
  while (::read(tty, &c, 1) == 1 && c != '\n') password.append(&c, 1);
  if (terminal) ::tcsetattr(tty, TCSAFLUSH, &saved);
  (void)!::write(tty, "\n", 1);
  ::close(tty);
  return password;
}

}  // namespace certctl
