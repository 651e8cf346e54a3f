#include "host/lifecycle/hook.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>

namespace host::lifecycle {

namespace {

// How the hook ended, when not well.
std::string Failure(const std::string& command, const HookVariables& variables) {
  std::vector<std::string> environment;
  for (const char* kept : {"PATH", "HOME", "LANG", "TZ"})
    if (const char* value = std::getenv(kept)) environment.push_back(std::string(kept) + "=" + value);
  if (!std::getenv("PATH")) environment.push_back("PATH=/usr/sbin:/usr/bin:/sbin:/bin");
  for (const auto& [name, value] : variables) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return "could not be started";
  int status = 0;
  pid_t waited;
  while ((waited = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (waited != child) return "could not be waited for";
  if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? "" : "exited " + std::to_string(WEXITSTATUS(status));
  return "was killed by signal " + std::to_string(WTERMSIG(status));
}

}  // namespace

ozo::result_t RunHook(const std::string& command, const HookVariables& variables, std::string& failure) {
  failure = Failure(command, variables);
  return failure.empty() ? ozo::results::NoError : ozo::results::UnspecifiedError;
}

}  // namespace host::lifecycle
