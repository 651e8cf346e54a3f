#include "host/lifecycle/hook.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "host/net/deadline.h"
#include "host/net/descriptor.h"

namespace host::lifecycle {
namespace {

// The chain as a fresh owner-only file (mode 0600 from mkstemp); its path,
// or empty when it cannot be written.
std::string WriteChainFile(const std::string& pem) {
  const char* folder = std::getenv("TMPDIR");
  std::string path = std::string(folder && *folder ? folder : "/tmp") + "/certctl-chain.XXXXXX";
  const Descriptor file(::mkstemp(path.data()));
  if (file.get() < 0) return "";
  for (std::size_t done = 0; done < pem.size();) {
    const ssize_t wrote = ::write(file.get(), pem.data() + done, pem.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      ::unlink(path.c_str());
      return "";
    }
    done += static_cast<std::size_t>(wrote);
  }
  return path;
}

// Waits for `child` until `deadline`; kills its process group when the
// time is up. How it ended, or empty when it exited 0.
std::string Await(pid_t child, const Deadline& deadline) {
  int status = 0;
  for (;;) {
    const pid_t waited = ::waitpid(child, &status, WNOHANG);
    if (waited == child) break;
    if (waited < 0 && errno != EINTR) return "could not be waited for";
    if (deadline.Passed()) {
      ::kill(-child, SIGKILL);
      while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      char seconds[32];
      std::snprintf(seconds, sizeof(seconds), "%g", deadline.seconds());
      return std::string("was stopped after ") + seconds + " s, its time";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? "" : "exited " + std::to_string(WEXITSTATUS(status));
  return "was killed by signal " + std::to_string(WTERMSIG(status));
}

}  // namespace

ozo::result_t RunHook(const HookRun& run, std::string& failure) {
  std::vector<std::string> environment;
  for (const char* kept : {"PATH", "HOME", "LANG", "TZ"})
    if (const char* value = std::getenv(kept)) environment.push_back(std::string(kept) + "=" + value);
  if (!std::getenv("PATH")) environment.push_back("PATH=/usr/sbin:/usr/bin:/sbin:/bin");
  for (const auto& [name, value] : run.variables) environment.push_back(name + "=" + value);
  const std::string chain = run.chainPem.empty() ? "" : WriteChainFile(run.chainPem);
  if (!run.chainPem.empty() && chain.empty()) {
    failure = "could not be given the new chain: no file for it could be written";
    return ozo::results::MediaError;
  }
  if (!chain.empty()) environment.push_back("CERTCTL_CHAIN_FILE=" + chain);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const char* argv[] = {"/bin/sh", "-c", run.command.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const Deadline deadline(run.timeoutSeconds);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, "/bin/sh", &actions, &attributes, const_cast<char**>(argv), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  failure = spawned != 0 ? "could not be started" : Await(child, deadline);
  if (!chain.empty()) ::unlink(chain.c_str());
  return failure.empty() ? ozo::results::NoError : ozo::results::UnspecifiedError;
}

}  // namespace host::lifecycle
