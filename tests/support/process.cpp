#include "tests/support/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>

extern char** environ;

namespace test {

pid_t SpawnProcess(const std::vector<std::string>& argv, const std::string& out, const std::string& err,
                   const std::vector<std::string>& environment) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view current(*entry);
    const bool overridden = std::any_of(environment.begin(), environment.end(), [&](const std::string& added) {
      const std::size_t name = added.find('=');
      return current.substr(0, name + 1) == std::string_view(added).substr(0, name + 1);
    });
    if (!overridden) env.push_back(*entry);
  }
  for (const std::string& entry : environment) env.push_back(const_cast<char*>(entry.c_str()));
  env.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int ExitOf(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& scratch,
                         const std::vector<std::string>& environment) {
  const std::string out = scratch + "/stdout", err = scratch + "/stderr";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = SpawnProcess(argv, out, err, environment);
  int status = 0;
  rusage usage{};
  const bool waited = pid > 0 && ::wait4(pid, &status, 0, &usage) == pid;
  const int exit = waited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {exit, ReadWholeFile(out), ReadWholeFile(err), seconds, usage.ru_maxrss};
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string RunCommand(const std::string& command) {
  // Standard input is not the caller's: a command never reads what its
  // caller reads (a script feeding the suite a table, say).
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(("(" + command + ") </dev/null").c_str(), "r"), ::pclose);
  std::string output;
  char chunk[4096];
  std::size_t got = 0;
  while (pipe && (got = std::fread(chunk, 1, sizeof(chunk), pipe.get())) > 0) output.append(chunk, got);
  return output;
}

}  // namespace test
