#include "tools/certctl/cli/parser.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <list>
#include <sstream>

#include "tools/certctl/lib/failure.h"

namespace certctl {
namespace {

std::vector<std::string> Words(const std::string& text, char separator = ' ') {
  std::vector<std::string> words;
  std::istringstream stream(text);
  for (std::string word; std::getline(stream, word, separator);)
    if (!word.empty()) words.push_back(word);
  return words;
}

// How many single-character edits (an insertion, a deletion, a change, two
// neighbours swapped) turn one text into the other.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// " (did you mean --checkend?)" when one of `known` is a slip away from
// `given` (an edit for every three characters of its name); else empty.
std::string Nearest(const std::string& given, const std::vector<std::string>& known) {
  const std::string* best = nullptr;
  std::size_t distance = (given.size() - given.find_first_not_of('-')) / 3 + 1;
  for (const std::string& candidate : known)
    if (const std::size_t d = Distance(given, candidate); d < distance) distance = d, best = &candidate;
  return best ? " (did you mean " + *best + "?)" : "";
}

// The texts CLI11 collects for a list of rows: each option's values, and
// whether each switch was given.
struct Collected {
  std::vector<std::vector<std::string>> values;
  std::vector<std::int64_t> switches;
  std::vector<CLI::Option*> options;  // CLI11's, by row

  void Add(CLI::App& app, const std::vector<OptionRow>& rows) {
    values.resize(rows.size());
    switches.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (!rows[i].value) {
        options.push_back(app.add_flag(rows[i].names, switches[i], rows[i].help));
        continue;
      }
      CLI::Option* option = options.emplace_back(app.add_option(rows[i].names, values[i], rows[i].help));
      option->type_name(rows[i].value)->allow_extra_args(false);
      // A value may be left out: the parser says which option lacks it. A
      // repeatable option's missing value is CLI11's ArgumentMismatch.
      if (!rows[i].repeatable) option->expected(0, 1)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
      if (rows[i].required) option->required();
    }
    for (std::size_t mode = 0; mode < rows.size(); ++mode)
      for (std::size_t other = 0; rows[mode].mode && other < rows.size(); ++other)
        if (other != mode) options[mode]->excludes(options[other]);
  }
  // The mode given with another option of its command, as a sentence.
  std::string ModeWithOther(const std::vector<OptionRow>& rows) const {
    for (std::size_t mode = 0; mode < rows.size(); ++mode)
      for (std::size_t other = 0; rows[mode].mode && options[mode]->count() && other < rows.size(); ++other)
        if (other != mode && options[other]->count())
          return rows[mode].LongName() + " takes no other option (" + rows[other].LongName() + " was given)";
    return "an option excludes another";
  }
  // The first row given without its value, as a sentence; or empty.
  std::string MissingValue(const std::vector<OptionRow>& rows) const {
    for (std::size_t i = 0; i < rows.size(); ++i)
      for (const std::string& value : values[i])
        if (value.empty()) return rows[i].LongName() + " needs a value (" + rows[i].value + ")";
    return "";
  }
  // Feeds what was given to the rows' setters.
  void Apply(const std::vector<OptionRow>& rows, void* arguments) const {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (switches[i]) rows[i].set(arguments, "");
      for (const std::string& value : values[i]) rows[i].set(arguments, value);
    }
  }
};

// One command's app and what it collects.
struct CommandApp {
  const Command* command;
  CLI::App* app;
  std::vector<std::string> operands;
  Collected options;
};

// The first word of argv that is neither an option nor a global option's
// value: the command's first word, or empty.
std::string FirstWord(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string token = argv[i];
    if (token.empty() || token[0] != '-' || token == "-") return token;
    if (token.find('=') != std::string::npos) continue;
    for (const OptionRow& row : GlobalOptionRows())
      for (const std::string& name : Words(row.names, ','))
        if (name == token && row.value) ++i;  // its value follows
  }
  return "";
}

// The command tree: an app for certctl and, for the commands the line's
// first word names, an app for each command and group ("policy"); each
// takes the global options too. Commands the line cannot name are left out:
// a command line pays for the commands it names, not for all of them.
class Tree {
 public:
  explicit Tree(const std::string& firstWord) : m_root("certctl", "certctl") {
    Prepare(m_root);
    for (const Command* command : Commands()) {
      if (Words(command->path).front() != firstWord) continue;
      CLI::App& app = Subcommand(command->path);
      CommandApp& added = m_commands.emplace_back(CommandApp{command, &app, {}, {}});
      added.operands.resize(command->operands.size());
      for (std::size_t i = 0; i < command->operands.size(); ++i)
        app.add_option(command->operands[i].name, added.operands[i])->required(command->operands[i].required);
      added.options.Add(app, command->options);
    }
    for (CLI::App* group : m_groups)
      if (std::none_of(m_commands.begin(), m_commands.end(), [&](const CommandApp& c) { return c.app == group; }))
        group->require_subcommand(1);  // "policy" alone is no command
  }

  CLI::App& root() { return m_root; }
  const Collected& global() const { return m_global; }
  // Whether -h/--help stands anywhere on the line.
  bool HelpAsked() const {
    for (std::size_t i = 0; i < GlobalOptionRows().size(); ++i)
      if (GlobalOptionRows()[i].LongName() == "--help" && m_global.switches[i]) return true;
    return false;
  }

  // The words of the commands the line names ("events prune", "policy").
  std::string NamedPath() const {
    std::string path;
    for (const CLI::App* at = &m_root; at;) {
      const CLI::App* next = nullptr;
      for (const CLI::App* sub : at->get_subcommands()) next = sub;
      if (next) path += (path.empty() ? "" : " ") + next->get_name();
      at = next;
    }
    return path;
  }
  // The command the line names, or null.
  const CommandApp* Current() const {
    const std::string path = NamedPath();
    for (const CommandApp& each : m_commands)
      if (each.command->path == path) return &each;
    return nullptr;
  }

  // Why CLI11 found arguments it did not expect.
  std::string Unexpected() const {
    const std::vector<std::string> extras = m_root.remaining(true);
    const std::string first = extras.empty() ? "" : extras.front();
    const CommandApp* current = Current();
    if (first.size() > 1 && first[0] == '-') {
      std::vector<std::string> known;
      for (const auto* rows : {&GlobalOptionRows(), current ? &current->command->options : nullptr})
        for (std::size_t i = 0; rows && i < rows->size(); ++i)
          for (const std::string& name : Words((*rows)[i].names, ',')) known.push_back(name);
      const std::string nearest = Nearest(first, known);
      const bool takesFile =
          current && std::any_of(current->command->operands.begin(), current->command->operands.end(),
                                 [](const OperandRow& row) { return row.name == std::string("FILE"); });
      return "unknown option " + first + nearest +
             (nearest.empty() && takesFile ? " (a FILE named " + first + " is given as ./" + first + ")" : "");
    }
    if (current) return "unexpected operand '" + first + "'";
    const std::string path = NamedPath();
    std::vector<std::string> known;
    for (const Command* command : Commands()) {
      const std::vector<std::string> words = Words(command->path);
      const std::size_t depth = Words(path).size();
      if (words.size() > depth && (path.empty() || std::string(command->path).rfind(path + " ", 0) == 0))
        known.push_back(words[depth]);
    }
    return "unknown command '" + first + "'" + Nearest(first, known);
  }
  // The repeatable option that ends the line without its value.
  std::string ValueMissingAtEnd(int argc, const char* const* argv) const {
    const CommandApp* current = Current();
    for (std::size_t i = 0; current && argc > 1 && i < current->command->options.size(); ++i)
      for (const std::string& name : Words(current->command->options[i].names, ','))
        if (name == argv[argc - 1])
          return current->command->options[i].LongName() + " needs a value (" + current->command->options[i].value +
                 ")";
    return "an option lacks its value";
  }
  // Why CLI11 found something required missing: what it could not place
  // first (an unknown option where an operand was awaited), else what is
  // missing.
  std::string Missing() const {
    if (!m_root.remaining(true).empty()) return Unexpected();
    if (const CommandApp* current = Current()) {
      for (std::size_t i = 0; i < current->operands.size(); ++i)
        if (current->command->operands[i].required &&
            current->app->get_option(current->command->operands[i].name)->count() == 0)
          return std::string("the operand ") + current->command->operands[i].name + " is missing";
      for (std::size_t i = 0; i < current->command->options.size(); ++i)
        if (current->command->options[i].required && current->options.options[i]->count() == 0)
          return current->command->options[i].LongName() + " is required";
    }
    return "which command? (one of those below)";
  }

 private:
  // Every app takes the global options, -h/--help among them.
  void Prepare(CLI::App& app) {
    app.set_help_flag();  // help is the rows', not CLI11's
    app.allow_windows_style_options(false);
    m_global.Add(app, GlobalOptionRows());
  }
  // The app of `path` ("policy lock"), made with its groups when missing.
  CLI::App& Subcommand(const std::string& path) {
    CLI::App* app = &m_root;
    for (const std::string& word : Words(path)) {
      CLI::App* found = nullptr;
      for (CLI::App* sub : app->get_subcommands([](CLI::App*) { return true; }))
        if (sub->get_name() == word) found = sub;
      if (!found) {
        found = app->add_subcommand(word);
        Prepare(*found);
        m_groups.push_back(found);
      }
      app = found;
    }
    return *app;
  }

  CLI::App m_root;
  Collected m_global;
  std::list<CommandApp> m_commands;  // stable addresses: CLI11 holds pointers into them
  std::vector<CLI::App*> m_groups;
};

// The usage lines of the commands under `path`, for a message about bad usage.
std::string UsageOf(const std::string& path) {
  std::string lines;
  for (const Command* command : Commands())
    if (!path.empty() && (std::string(command->path) + " ").rfind(path + " ", 0) == 0)
      lines += UsageLine(*command) + "\n";
  return lines.empty() ? "usage: certctl [GLOBAL OPTIONS] COMMAND [ARGUMENTS] (certctl --help)"
                       : lines + "(certctl " + path + " --help)";
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  // "help [COMMAND]", as git and openssl take it: the help of a command or
  // group that exists; any other words are read as the command line they
  // would be, which says what is wrong with them.
  if (argc > 1 && std::string(argv[1]) == kHelpCommand) {
    std::string path;
    for (int i = 2; i < argc; ++i) path += (path.empty() ? "" : " ") + std::string(argv[i]);
    for (const Command* command : Commands())
      if (path.empty() || (std::string(command->path) + " ").rfind(path + " ", 0) == 0) {
        ParsedCommandLine parsed;
        parsed.text = Help(path);
        return parsed;
      }
    std::vector<const char*> rest = {argv[0]};
    rest.insert(rest.end(), argv + 2, argv + argc);
    return ParseCommandLine(static_cast<int>(rest.size()), rest.data());
  }
  Tree tree(FirstWord(argc, argv));
  std::string problem;
  try {
    tree.root().parse(argc, argv);
  } catch (const CLI::ExtrasError&) {
    problem = tree.Unexpected();
  } catch (const CLI::RequiredError&) {
    problem = tree.Missing();
  } catch (const CLI::ArgumentMismatch&) {
    problem = tree.ValueMissingAtEnd(argc, argv);
  } catch (const CLI::ExcludesError&) {
    const CommandApp* current = tree.Current();
    problem = current ? current->options.ModeWithOther(current->command->options) : "an option excludes another";
  } catch (const CLI::ParseError& error) {  // no other error is expected of these rows
    problem = error.what();
  }
  ParsedCommandLine parsed;
  const CommandApp* current = tree.Current();
  const std::string path = tree.NamedPath();
  if (current) parsed.command = current->command;
  if (tree.HelpAsked()) return parsed.text = Help(path), parsed;
  if (problem.empty()) problem = tree.global().MissingValue(GlobalOptionRows());
  if (problem.empty() && current) problem = current->options.MissingValue(current->command->options);
  // The global options are read even when the line is refused: a plugin's
  // UNKNOWN line honours --json.
  try {
    tree.global().Apply(GlobalOptionRows(), &parsed.global);
  } catch (const Failure& failure) {
    if (problem.empty()) problem = failure.what();
  }
  if (!problem.empty()) return parsed.usageError = problem + "\n" + UsageOf(path), parsed;
  if (parsed.global.version) return parsed.text = std::string("certctl ") + CM_VERSION + "\n", parsed;
  if (!current) return parsed.usageError = "no command given\n" + Help(""), parsed;
  parsed.given.operands = current->operands;
  for (std::size_t i = 0; i < current->command->options.size(); ++i) {
    std::vector<std::string>& texts = parsed.given.options[i];
    texts = current->options.values[i];
    if (current->options.switches[i]) texts.emplace_back();
    if (texts.empty()) parsed.given.options.erase(i);
  }
  return parsed;
}

}  // namespace certctl
