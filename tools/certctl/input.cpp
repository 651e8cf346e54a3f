#include "tools/certctl/input.h"

#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "ivo/certificate_type_table.h"
#include "tools/certctl/errors.h"

namespace certctl {
ivo::CertificateType ParseType(const std::string& text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  for (ivo::CertificateType type = 1; type <= std::size(ivo::kCertificateTypeIds); ++type)
    if (lower == ivo::kCertificateTypeIds[type - 1].keyword) return type;
  if (!lower.empty() && std::all_of(lower.begin(), lower.end(), [](unsigned char c) { return std::isdigit(c); }) &&
      lower.size() <= 10) {
    const unsigned long long value = std::stoull(lower);
    if (value <= 0xFFFFFFFFull) return static_cast<ivo::CertificateType>(value);
  }
  throw Failure(kExitUsage, "unknown certificate type '" + text + "' (use edr, sandbox, ndr, siem or 1-4)");
}

const char* TypeKeyword(ivo::CertificateType type) {
  return type >= 1 && type <= std::size(ivo::kCertificateTypeIds) ? ivo::kCertificateTypeIds[type - 1].keyword : "?";
}

ozo::blob_t ReadFileBytes(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) throw Failure(kExitUsage, path + " is a directory");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Failure(kExitUsage, "cannot read " + path + ": " + std::strerror(errno));
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw Failure(kExitUsage, "cannot read " + path);
  return ozo::blob_t(bytes.data(), bytes.size());
}

void WriteFileBytes(const std::string& path, const ozo::blob_t& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw Failure(kExitUsage, "cannot write " + path);
}

namespace {

// Bytes read from a descriptor up to the first newline (a trailing CR
// dropped), in a buffer that is wiped before any of its memory is released,
// growth included: a password leaves no copy behind in freed memory.
class SecretLine {
 public:
  ~SecretLine() { Wipe(); }

  // Reads until a newline or the end; false on a read error.
  bool ReadFrom(int fd) {
    char c = 0;
    for (;;) {
      const ssize_t got = ::read(fd, &c, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      if (got == 0 || c == '\n') break;
      Push(c);
    }
    if (m_size > 0 && m_bytes[m_size - 1] == '\r') m_bytes[--m_size] = '\0';
    c = 0;
    return true;
  }

  ozo::string8_t Take() {
    ozo::string8_t text(m_bytes.data() ? m_bytes.data() : "", m_size);
    Wipe();
    return text;
  }

 private:
  void Push(char c) {
    if (m_size == m_bytes.size()) {
      std::vector<char> larger(m_bytes.empty() ? 64 : m_bytes.size() * 2);
      std::copy(m_bytes.begin(), m_bytes.end(), larger.begin());
      Wipe();
      m_bytes.swap(larger);
    }
    m_bytes[m_size++] = c;
  }
  void Wipe() {
    if (!m_bytes.empty()) ::explicit_bzero(m_bytes.data(), m_bytes.size());
  }

  std::vector<char> m_bytes;
  std::size_t m_size = 0;
};

// Turns the terminal's echo off for its lifetime.
class SilentTerminal {
 public:
  explicit SilentTerminal(int tty) : m_tty(tty), m_saved(), m_silenced(::tcgetattr(tty, &m_saved) == 0) {
    if (!m_silenced) return;
    termios silent = m_saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(tty, TCSAFLUSH, &silent);
  }
  ~SilentTerminal() {
    if (m_silenced) ::tcsetattr(m_tty, TCSAFLUSH, &m_saved);
  }
  SilentTerminal(const SilentTerminal&) = delete;
  SilentTerminal& operator=(const SilentTerminal&) = delete;

 private:
  int m_tty;
  termios m_saved;
  bool m_silenced;
};

}  // namespace

ozo::string8_t ReadPassword(const PasswordSource& source, const char* prompt) {
  SecretLine line;
  if (!source.file.empty()) {
    std::error_code error;
    if (std::filesystem::is_directory(source.file, error))
      throw Failure(kExitUsage, "the password file " + source.file + " is a directory");
    const int fd = ::open(source.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Failure(kExitUsage, "cannot read the password file " + source.file + ": " + std::strerror(errno));
    const bool read = line.ReadFrom(fd);
    ::close(fd);
    if (!read) throw Failure(kExitUsage, "cannot read the password file " + source.file);
    return line.Take();
  }
  if (!source.environment.empty()) {
    const char* value = std::getenv(source.environment.c_str());
    if (!value) throw Failure(kExitUsage, "the environment variable " + source.environment + " is not set");
    return ozo::string8_t(value);
  }
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) throw Failure(kExitUsage, "no password given: use --password-file FILE or --password-env VARIABLE");
  bool read = false;
  {
    SilentTerminal silent(tty);
    (void)!::write(tty, prompt, std::strlen(prompt));
    read = line.ReadFrom(tty);
  }
  (void)!::write(tty, "\n", 1);
  ::close(tty);
  if (!read) throw Failure(kExitUsage, "cannot read the password from the terminal");
  return line.Take();
}

}  // namespace certctl
