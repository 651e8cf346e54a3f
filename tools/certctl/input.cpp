#include "tools/certctl/input.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "ivo/certificate_type_table.h"
#include "tools/certctl/errors.h"

namespace certctl {

ivo::CertificateType ParseType(const std::string& text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  for (ivo::CertificateType type = 1; type <= std::size(ivo::kCertificateTypeIds); ++type)
    if (lower == ivo::kCertificateTypeIds[type - 1].keyword || lower == std::to_string(type)) return type;
  throw Failure(kExitUsage, "unknown certificate type '" + text + "' (use edr, sandbox, ndr, siem or 1-4)");
}

bool ParseKind(const std::string& text) {
  if (text != "server" && text != "client")
    throw Failure(kExitUsage, "unknown kind '" + text + "' (use server or client)");
  return text == "client";
}

const char* TypeKeyword(ivo::CertificateType type) {
  return type >= 1 && type <= std::size(ivo::kCertificateTypeIds) ? ivo::kCertificateTypeIds[type - 1].keyword : "?";
}

namespace {

// A descriptor closed on every path.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

// Reads up to `limit` + 1 bytes (or to the end) into `out` through `append`,
// in blocks; -1 on a read error (errno set).
template <class Append>
long ReadBounded(int fd, std::size_t limit, Append append) {
  char block[8192];
  std::size_t total = 0;
  for (;;) {
    const ssize_t got = ::read(fd, block, std::min(sizeof(block), limit + 1 - total));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::explicit_bzero(block, sizeof(block));
      return -1;
    }
    const bool more = append(block, static_cast<std::size_t>(got));
    total += static_cast<std::size_t>(got);
    if (got == 0 || !more || total > limit) break;
  }
  ::explicit_bzero(block, sizeof(block));
  return static_cast<long>(total);
}

std::string Limit(std::size_t bytes) {
  return bytes % 1024 == 0 ? bytes % (1024 * 1024) == 0 ? std::to_string(bytes / (1024 * 1024)) + " MiB"
                                                        : std::to_string(bytes / 1024) + " KiB"
                           : std::to_string(bytes) + " bytes";
}

}  // namespace

ozo::blob_t ReadFileBytes(const std::string& path) {
  Descriptor file(path == "-" ? ::dup(STDIN_FILENO) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw Failure(kExitUsage, "cannot read " + path + ": " + std::strerror(errno));
  struct stat about {};
  if (::fstat(file.get(), &about) == 0 && S_ISDIR(about.st_mode)) throw Failure(kExitUsage, path + " is a directory");
  const std::string tooBig =
      path + " is larger than " + Limit(kMaxCertificateFileBytes) + ", more than any certificate file";
  if (S_ISREG(about.st_mode) && static_cast<std::size_t>(about.st_size) > kMaxCertificateFileBytes)
    throw Failure(kExitUsage, tooBig);
  ozo::blob_t bytes;
  const long total = ReadBounded(file.get(), kMaxCertificateFileBytes, [&bytes](const char* data, std::size_t size) {
    bytes.append(data, size);
    return true;
  });
  if (total < 0) throw Failure(kExitUsage, "cannot read " + path + ": " + std::strerror(errno));
  if (static_cast<std::size_t>(total) > kMaxCertificateFileBytes) throw Failure(kExitUsage, tooBig);
  return bytes;
}

namespace {

// The first line of what `fd` holds (a trailing CR dropped), read into a
// secret whose room is reserved up front: it never grows, so no copy of the
// password is left in released memory.
Secret ReadSecretLine(int fd, const std::string& from) {
  Secret secret;
  secret.text().reserve(kMaxPasswordBytes + 1);
  bool ended = false;
  const long total = ReadBounded(fd, kMaxPasswordBytes, [&](const char* data, std::size_t size) {
    const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
    const std::size_t keep = std::min(newline ? static_cast<std::size_t>(newline - data) : size,
                                      kMaxPasswordBytes + 1 - secret.text().size());
    secret.text().append(data, keep);
    ended = newline != nullptr;
    return !ended && secret.text().size() <= kMaxPasswordBytes;
  });
  if (total < 0) throw Failure(kExitUsage, "cannot read the password from " + from + ": " + std::strerror(errno));
  if (secret.text().size() > kMaxPasswordBytes)
    throw Failure(kExitUsage, "the password in " + from + " is longer than " + Limit(kMaxPasswordBytes));
  ozo::string8_t& text = secret.text();
  if (!text.empty() && text[text.size() - 1] == '\r') text.resize(text.size() - 1);
  return secret;
}

// The terminal's settings while echo is off, for the signal handler.
int g_tty = -1;
termios g_saved{};

extern "C" void RestoreAndDie(int signal) {
  ::tcsetattr(g_tty, TCSAFLUSH, &g_saved);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Turns the terminal's echo off for its lifetime; a signal that ends the
// process meanwhile (Ctrl-C, a hang-up) turns it back on first.
class SilentTerminal {
 public:
  explicit SilentTerminal(int tty) : m_silenced(::tcgetattr(tty, &g_saved) == 0) {
    if (!m_silenced) return;
    g_tty = tty;
    struct sigaction restore {};
    restore.sa_handler = RestoreAndDie;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &restore, &m_previous[i]);
    termios silent = g_saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(tty, TCSAFLUSH, &silent);
  }
  ~SilentTerminal() {
    if (!m_silenced) return;
    ::tcsetattr(g_tty, TCSAFLUSH, &g_saved);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &m_previous[i], nullptr);
  }
  SilentTerminal(const SilentTerminal&) = delete;
  SilentTerminal& operator=(const SilentTerminal&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
  bool m_silenced;
  struct sigaction m_previous[std::size(kSignals)]{};
};

}  // namespace

Secret ReadPassword(const PasswordSource& source, const char* prompt) {
  if (!source.file.empty()) {
    Descriptor file(source.file == "-" ? ::dup(STDIN_FILENO) : ::open(source.file.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
      throw Failure(kExitUsage, "cannot read the password file " + source.file + ": " + std::strerror(errno));
    struct stat about {};
    if (::fstat(file.get(), &about) == 0 && S_ISDIR(about.st_mode))
      throw Failure(kExitUsage, "the password file " + source.file + " is a directory");
    return ReadSecretLine(file.get(), source.file);
  }
  if (!source.environment.empty()) {
    const char* value = std::getenv(source.environment.c_str());
    if (!value) throw Failure(kExitUsage, "the environment variable " + source.environment + " is not set");
    if (std::strlen(value) > kMaxPasswordBytes)
      throw Failure(kExitUsage,
                    "the password in " + source.environment + " is longer than " + Limit(kMaxPasswordBytes));
    return Secret(ozo::string8_t(value));
  }
  Descriptor tty(::open("/dev/tty", O_RDWR | O_CLOEXEC));
  if (tty.get() < 0)
    throw Failure(kExitUsage, "no password given: use --password-file FILE or --password-env VARIABLE");
  Secret secret;
  {
    SilentTerminal silent(tty.get());
    (void)!::write(tty.get(), prompt, std::strlen(prompt));
    secret = ReadSecretLine(tty.get(), "the terminal");
  }
  (void)!::write(tty.get(), "\n", 1);
  return secret;
}

}  // namespace certctl
