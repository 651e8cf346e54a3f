// Running a program as a subprocess: its exit status and what it printed.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace test {

struct ProcessResult {
  int exit;  // -1 when it did not exit normally (killed by a signal)
  std::string out;
  std::string err;
  double seconds = 0;  // from its start to its end
  long maxRssKiB = 0;  // the most memory it held at once
};

// Starts `argv` with standard input from /dev/null and its output in the
// files `out` and `err`; `environment` ("NAME=value") is added to this
// process's environment, replacing variables of the same names. Returns the child's pid (0 when it cannot start).
pid_t SpawnProcess(const std::vector<std::string>& argv, const std::string& out, const std::string& err,
                   const std::vector<std::string>& environment = {});

// Runs `argv` to its end, with its output kept in `scratch`/stdout and
// `scratch`/stderr.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& scratch,
                         const std::vector<std::string>& environment = {});

// The exit status of a waited-for child: its code, or -1 when killed.
int ExitOf(pid_t pid);

std::string ReadWholeFile(const std::string& path);

// What a shell command writes on its standard output.
std::string RunCommand(const std::string& command);

}  // namespace test
