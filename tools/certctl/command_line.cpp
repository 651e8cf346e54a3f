#include "tools/certctl/command_line.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <list>
#include <regex>
#include <sstream>

#include "tools/certctl/errors.h"

namespace certctl {
namespace {

// The long name of an option: its key in Invocation.
std::string LongName(const std::string& names) { return names.substr(names.rfind(',') + 1); }

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream stream(text);
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

// What one command (or the tool itself) collects while CLI11 parses.
struct Collector {
  const CommandSpec* command = nullptr;
  CLI::App* app = nullptr;
  std::vector<std::string> operands;
  std::map<std::string, std::vector<std::string>> values;
  std::map<std::string, bool> switches;
  bool help = false;
};

void AddOptions(CLI::App& app, const std::vector<OptionSpec>& options, Collector& collected) {
  for (const OptionSpec& option : options) {
    const std::string key = LongName(option.names);
    if (!option.value) {
      app.add_flag(option.names, collected.switches[key], option.help);
      continue;
    }
    CLI::Option* added = app.add_option(option.names, collected.values[key], option.help);
    added->type_name(option.value)->allow_extra_args(false);
    if (!option.repeatable) added->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    if (option.required) added->required();
  }
}

// The subcommand `path` of `root` ("policy lock"), made when missing.
CLI::App& Subcommand(CLI::App& root, const std::string& path) {
  CLI::App* app = &root;
  for (const std::string& word : Split(path)) {
    CLI::App* found = nullptr;
    for (CLI::App* sub : app->get_subcommands([](CLI::App*) { return true; }))
      if (sub->get_name() == word) found = sub;
    if (!found) {
      found = app->add_subcommand(word);
      found->set_help_flag();
      found->fallthrough();
    }
    app = found;
  }
  return *app;
}

void Collect(const Collector& from, Invocation& invocation) {
  for (const auto& [key, list] : from.values)
    if (!list.empty()) invocation.values[key] = list;
  for (const auto& [key, on] : from.switches)
    if (on) invocation.switches.insert(key);
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  CLI::App app("certctl", "certctl");
  app.set_help_flag();  // help is the table's, not CLI11's
  app.allow_windows_style_options(false);
  Collector global;
  AddOptions(app, GlobalOptions(), global);

  std::list<Collector> commands;
  for (const CommandSpec& command : Commands()) {
    CLI::App& sub = Subcommand(app, command.path);
    Collector& collected = commands.emplace_back();
    collected.command = &command;
    collected.app = &sub;
    collected.operands.resize(Split(command.operands).size());
    std::size_t index = 0;
    for (const std::string& operand : Split(command.operands))
      sub.add_option(operand, collected.operands[index++])->required();
    AddOptions(sub, command.options, collected);
    sub.add_flag("-h,--help", collected.help, "this command's help");
  }
  for (CLI::App* parent : app.get_subcommands([](CLI::App*) { return true; }))
    if (std::none_of(commands.begin(), commands.end(), [&](const Collector& c) { return c.app == parent; }))
      parent->require_subcommand(1);  // "policy" alone is no command

  // The deepest command on the line so far.
  const auto current = [&]() -> const Collector* {
    const Collector* deepest = nullptr;
    for (const Collector& each : commands)
      if (each.app->parsed() && (!deepest || Split(each.command->path).size() > Split(deepest->command->path).size()))
        deepest = &each;
    return deepest;
  };
  // The usage lines of the commands the line has named so far ("policy":
  // policy show, lock and unlock), for a message about bad usage.
  const auto usage = [&]() {
    std::string named;
    for (CLI::App* at = &app; at;) {
      CLI::App* next = nullptr;
      for (CLI::App* sub : at->get_subcommands()) next = sub;
      if (next) named += (named.empty() ? "" : " ") + next->get_name();
      at = next;
    }
    std::string lines;
    for (const CommandSpec& command : Commands())
      if (!named.empty() && (std::string(command.path) + " ").rfind(named + " ", 0) == 0)
        lines += UsageLine(command) + "\n";
    return lines.empty() ? "usage: certctl [GLOBAL OPTIONS] COMMAND [ARGUMENTS] (certctl --help)"
                         : lines + "(certctl " + named + " --help)";
  };
  const auto refuse = [&](std::string message) { return Failure(kExitUsage, message + "\n" + usage()); };
  // CLI11's messages, in the words of the rest of certctl.
  const auto reworded = [&](const CLI::ParseError& error) {
    const std::string text = error.what();
    static const std::regex kValueMissing("^(-[^:]+): 1 required (\\S+) missing$");
    std::smatch parts;
    if (std::regex_match(text, parts, kValueMissing)) return parts[1].str() + " needs a value (" + parts[2].str() + ")";
    if (text == "A subcommand is required") return std::string("which command? (one of those below)");
    if (text.size() > 12 && text.compare(text.size() - 12, 12, " is required") == 0 && std::isupper(text[0]) &&
        std::isupper(text[1]))
      return "the operand " + text.substr(0, text.size() - 12) + " is missing";
    return text.size() > 1 && std::isupper(text[0]) && std::islower(text[1])
               ? static_cast<char>(std::tolower(text[0])) + text.substr(1)
               : text;
  };
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const Collector* command = current();
    if (global.switches["--help"] || (command && command->help))
      return {{}, Help(command ? command->command : nullptr)};
    if (!command && !app.remaining().empty() && app.remaining().front().rfind('-', 0) != 0)
      throw refuse("unknown command '" + app.remaining().front() + "'");
    throw refuse(reworded(error));
  }
  const Collector* command = current();
  // An option of an enclosing command ("events --since") given after a
  // command inside it ("events prune") belongs to neither: refused, never
  // ignored.
  for (const Collector& each : commands) {
    if (&each == command || !each.app->parsed()) continue;
    for (const auto& [key, list] : each.values)
      if (!list.empty()) throw refuse(key + " is not an option of " + command->command->path);
    for (const auto& [key, on] : each.switches)
      if (on) throw refuse(key + " is not an option of " + command->command->path);
  }
  if (command && command->help) return {{}, Help(command->command)};
  if (global.switches["--help"]) return {{}, Help(nullptr)};
  if (global.switches["--version"]) return {{}, std::string("certctl ") + CM_VERSION + "\n"};
  if (!command) throw Failure(kExitUsage, "no command given\n" + Help(nullptr));

  ParsedCommandLine parsed;
  Invocation& invocation = parsed.invocation;
  invocation.command = command->command->path;
  invocation.arguments = command->operands;
  Collect(global, invocation);
  Collect(*command, invocation);
  invocation.options.store = invocation.Value("--store");
  invocation.options.library = invocation.Value("--library");
  invocation.options.logFile = invocation.Value("--log");
  invocation.options.json = invocation.Has("--json");
  if (const std::string level = invocation.Value("--trace"); !level.empty()) {
    if (level.size() > 9 || level.find_first_not_of("0123456789") != std::string::npos)
      throw Failure(kExitUsage, "--trace takes a level, such as 300 or 800");
    invocation.options.traceLevel = static_cast<std::uint32_t>(std::stoul(level));
  }
  return parsed;
}

}  // namespace certctl
