// Whole processes timed without a scripting harness in between: each run is
// one posix_spawn and waitpid, timed on the monotonic clock, with standard
// input, output and error on /dev/null.
//
//   process_pairs ratio NAME GOAL PAIRS SUBJECT... -- BASELINE...
//     the subject's wall time against the baseline's, in PAIRS interleaved
//     pairs (the order alternating); prints the median ratio and quartiles
//     and fails when the median is above GOAL.
//   process_pairs ratio NAME GOAL PAIRS [--exit N] SUBJECT... -- BASELINE...
//                 [--and BASELINE...]... [--setup SETUP...]
//     the same, with a baseline of several commands (timed together), SETUP
//     run untimed before each run of the subject (for a subject that uses up
//     what it works on, as an install its pending key), and a subject that
//     is to exit N.
//   process_pairs time NAME LOW HIGH RUNS EXIT COMMAND...
//     COMMAND's wall time over RUNS runs; fails unless its median and its
//     slowest run lie within [LOW, HIGH] seconds.
// Every run must exit 0 (time: EXIT), or the figures mean nothing: a run
// that does not is reported and fails the program.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/paired.h"

extern char** environ;

namespace {

using Command = std::vector<std::string>;

// The wall time of one run of `command`; throws when it does not exit with `expected`.
double Run(const Command& command, int expected) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (const int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd ? O_WRONLY : O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || ::waitpid(child, &status, 0) != child) throw std::runtime_error("cannot run " + command[0]);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expected)
    throw std::runtime_error(command[0] + " " + (command.size() > 1 ? command[1] : "") + " exited " +
                             std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ", not " +
                             std::to_string(expected));
  return seconds;
}

// One side of a pair may be several commands (run one after the other and
// timed together) and the subject may need a SETUP before each of its runs
// (untimed), and may be meant to exit with another status than 0.
struct Pairing {
  Command subject;
  int subjectExit = 0;
  std::vector<Command> baseline;
  Command setup;
};

double RunAll(const std::vector<Command>& commands) {
  double seconds = 0;
  for (const Command& command : commands) seconds += Run(command, 0);
  return seconds;
}

int Ratio(const std::string& name, double goal, int pairs, const Pairing& pairing) {
  std::vector<double> ratios;
  for (int pair = -1; pair < pairs; ++pair) {  // pair -1 warms both up
    if (!pairing.setup.empty()) Run(pairing.setup, 0);
    double subjectTime = 0, baselineTime = 0;
    if (pair % 2) {
      subjectTime = Run(pairing.subject, pairing.subjectExit);
      baselineTime = RunAll(pairing.baseline);
    } else {
      baselineTime = RunAll(pairing.baseline);
      subjectTime = Run(pairing.subject, pairing.subjectExit);
    }
    if (pair >= 0) ratios.push_back(subjectTime / baselineTime);
  }
  const bench::PairedRatio ratio = bench::Summarize(std::move(ratios));
  std::printf("%-44s %8.3f %8.3f..%-8.3f %6s%.2f %s\n", name.c_str(), ratio.median, ratio.low, ratio.high, "<=", goal,
              ratio.median <= goal ? "" : "MISSED");
  return ratio.median <= goal ? 0 : 1;
}

// SUBJECT... -- BASELINE... [--and BASELINE...]... [--setup SETUP...], with
// [--exit N] before SUBJECT.
Pairing PairingOf(std::vector<std::string>::const_iterator at, std::vector<std::string>::const_iterator end) {
  Pairing pairing;
  if (at != end && *at == "--exit" && at + 1 != end) {
    pairing.subjectExit = std::stoi(*(at + 1));
    at += 2;
  }
  Command* filling = &pairing.subject;
  for (; at != end; ++at) {
    if (*at == "--" || *at == "--and") {
      pairing.baseline.emplace_back();
      filling = &pairing.baseline.back();
    } else if (*at == "--setup") {
      filling = &pairing.setup;
    } else {
      filling->push_back(*at);
    }
  }
  if (pairing.subject.empty() || pairing.baseline.empty() || pairing.baseline.front().empty())
    throw std::invalid_argument("ratio needs SUBJECT... -- BASELINE...");
  return pairing;
}

int Time(const std::string& name, double low, double high, int runs, int expected, const Command& command) {
  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) seconds.push_back(Run(command, expected));
  std::sort(seconds.begin(), seconds.end());
  const double median = seconds[seconds.size() / 2], slowest = seconds.back();
  const bool met = median >= low && slowest <= high;
  std::printf("%-44s %7.3fs slowest %6.3fs %6s %.1f..%.1fs %s\n", name.c_str(), median, slowest, "within", low, high,
              met ? "" : "MISSED");
  return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() > 5 && args[0] == "ratio")
      return Ratio(args[1], std::stod(args[2]), std::stoi(args[3]), PairingOf(args.begin() + 4, args.end()));
    if (args.size() > 6 && args[0] == "time")
      return Time(args[1], std::stod(args[2]), std::stod(args[3]), std::stoi(args[4]), std::stoi(args[5]),
                  Command(args.begin() + 6, args.end()));
    std::fprintf(
        stderr,
        "usage: process_pairs ratio NAME GOAL PAIRS [--exit N] SUBJECT... -- BASELINE... [--and BASELINE...]..."
        " [--setup SETUP...]\n"
        "       process_pairs time NAME LOW HIGH RUNS EXIT COMMAND...\n");
    return 2;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "process_pairs: %s\n", failure.what());
    return 1;
  }
}
