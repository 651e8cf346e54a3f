// The usage lines and help texts, made from the commands' rows.
#include <cctype>
#include <sstream>

#include "tools/certctl/cli/parser.h"

namespace certctl {
namespace {

// "-o, --out"
std::string Names(const std::string& names) {
  std::string words;
  std::istringstream list(names);
  for (std::string name; std::getline(list, name, ',');) words += (words.empty() ? "" : ", ") + name;
  return words;
}

// "[-o FILE]", "--from OLD.db", "[--probe TYPE=HOST[:PORT]...]"
std::string Synopsis(const OptionRow& option) {
  const std::string names = option.names;
  const std::size_t comma = names.find(',');
  std::string text = comma == std::string::npos ? names : names.substr(0, comma);
  if (option.value) text += std::string(" ") + option.value;
  if (option.repeatable) text += "...";
  return option.required ? text : "[" + text + "]";
}

// `left` in a column `width` wide, then `right` wrapped at 79 characters in
// the column after it (on the next line when `left` fills its column).
std::string Column(const std::string& left, const std::string& right, std::size_t width) {
  std::string text = "  " + left;
  std::size_t at = text.size();
  if (at > width) {
    text += "\n";
    at = 0;
  }
  std::istringstream words(right);
  bool first = true;
  for (std::string word; words >> word; first = false) {
    if (!first && at + 1 + word.size() > 79) {
      text += "\n";
      at = 0;
    }
    const std::size_t pad = at == 0 ? width + 2 : first ? width + 2 - at : 1;
    text += std::string(pad, ' ') + word;
    at += pad + word.size();
  }
  return text + "\n";
}

std::string OptionLines(const std::vector<OptionRow>& options) {
  std::string lines;
  for (const OptionRow& option : options)
    lines += Column(Names(option.names) + (option.value ? std::string(" ") + option.value : ""),
                    option.help + (option.defaultText.empty() ? "" : " (" + option.defaultText + ")"), 26);
  return lines;
}

constexpr const char* kExitStatus = R"(Exit status: 0 done; 1 nothing to do; 2 the component refused or failed (its
code is printed, e.g. 0x8000004c (Not found)); 3 bad usage or input; 4 the
store or the library cannot be used. check and probe exit with the
monitoring-plugin states instead: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
)";

std::string CommandHelp(const Command& command) {
  std::string summary = command.summary;
  summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
  std::string text = UsageLine(command) + "\n\n" + summary + ".\n";
  if (command.details) text += "\n" + std::string(command.details);
  if (!command.options.empty()) text += "\nOptions:\n" + OptionLines(command.options);
  return text + "\nGlobal options (--store, --json, ...): certctl --help.\n\n" +
         (command.exitStatus ? command.exitStatus : kExitStatus);
}

std::string ToolHelp(const std::string& group) {
  std::string text = group.empty() ? R"(usage: certctl [GLOBAL OPTIONS] COMMAND [ARGUMENTS]

Keeps one trusted server certificate and one client certificate per peer type
(edr, sandbox, ndr, siem; or 1-4) through the certificates manager library.

Commands:
)"
                                   : "usage: certctl " + group + " COMMAND [ARGUMENTS]\n\nCommands:\n";
  for (const Command* each : Commands())
    if (group.empty() || std::string(each->path).rfind(group + " ", 0) == 0)
      text += Column(UsageLine(*each).substr(15), each->summary, 34);
  if (!group.empty()) return text + "\ncertctl " + group + " COMMAND --help shows a command's options.\n";
  return text + "\nGlobal options:\n" + OptionLines(GlobalOptionRows()) +
         "\ncertctl help COMMAND (or certctl COMMAND --help) shows a command's options.\n\n" + kExitStatus;
}

}  // namespace

std::string OptionRow::LongName() const {
  const std::string all = names;
  return all.substr(all.rfind(',') + 1);
}

std::string UsageLine(const Command& command) {
  std::string line = std::string("usage: certctl ") + command.path;
  for (const OperandRow& operand : command.operands)
    line += operand.required ? std::string(" ") + operand.name : std::string(" [") + operand.name + "]";
  for (const OptionRow& option : command.options) line += " " + Synopsis(option);
  return line;
}

std::string Help(const std::string& path) {
  for (const Command* command : Commands())
    if (command->path == path) return CommandHelp(*command);
  return ToolHelp(path);
}

}  // namespace certctl
