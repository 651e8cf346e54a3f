#include "tools/certctl/lib/passwords.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "host/net/descriptor.h"
#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/files.h"

namespace certctl {
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
    throw Failure(kExitUsage, "the password in " + from + " is longer than " + SizeText(kMaxPasswordBytes));
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

PasswordSource PasswordFrom(const std::string& file, const std::string& environment, const std::string& container) {
  if (!file.empty() && !environment.empty())
    throw Failure(kExitUsage, "give the password once: --password-file or --password-env, not both");
  if (file == "-" && container == "-")
    throw Failure(kExitUsage, "standard input cannot hold both the file and its password");
  return {file, environment};
}

Secret ReadPassword(const PasswordSource& source, const char* prompt) {
  if (!source.file.empty()) {
    const host::Descriptor file(source.file == "-" ? ::dup(STDIN_FILENO)
                                                   : ::open(source.file.c_str(), O_RDONLY | O_CLOEXEC));
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
                    "the password in " + source.environment + " is longer than " + SizeText(kMaxPasswordBytes));
    return Secret(ozo::string8_t(value));
  }
  const host::Descriptor tty(::open("/dev/tty", O_RDWR | O_CLOEXEC));
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
