#include "tools/certctl/cli/complete.h"

#include <sstream>

#include "tools/certctl/cli/command.h"
#include "tools/certctl/cli/parser.h"

namespace certctl {
namespace {

std::vector<std::string> Names(const OptionRow& row) {
  std::vector<std::string> names;
  std::istringstream stream(row.names);
  for (std::string name; std::getline(stream, name, ',');) names.push_back(name);
  return names;
}

// The row `word` names ("--out", "-o", "--out=x"), among the command's and
// the global ones; null when none does.
const OptionRow* RowOf(const std::string& word, const Command* command) {
  const std::string name = word.substr(0, word.find('='));
  for (const auto* rows : {command ? &command->options : nullptr, &GlobalOptionRows()})
    for (std::size_t i = 0; rows && i < rows->size(); ++i)
      for (const std::string& each : Names((*rows)[i]))
        if (each == name) return &(*rows)[i];
  return nullptr;
}

const Command* CommandAt(const std::string& path) {
  for (const Command* command : Commands())
    if (command->path == path) return command;
  return nullptr;
}

// The words that may follow `path` in a command's path: the first words of
// all commands when it is empty.
std::vector<std::string> NextWords(const std::string& path) {
  std::vector<std::string> words;
  const std::string prefix = path.empty() ? "" : path + " ";
  for (const Command* command : Commands()) {
    const std::string full = command->path;
    if (full.rfind(prefix, 0) != 0 || full.size() == prefix.size()) continue;
    const std::string next = full.substr(prefix.size(), full.find(' ', prefix.size()) - prefix.size());
    if (words.empty() || words.back() != next) words.push_back(next);
  }
  return words;
}

// Where the words before the last leave the line: the command's path so far
// (a command, or a group such as "policy"), its operands, and the option
// whose value the last word is.
struct Position {
  std::string path;
  const Command* command = nullptr;
  std::size_t operands = 0;
  const OptionRow* valueOf = nullptr;
};

Position Walk(const std::vector<std::string>& words) {
  Position at;
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.size() > 1 && word[0] == '-') {
      const OptionRow* row = RowOf(word, at.command);
      if (!row || !row->value || word.find('=') != std::string::npos) continue;
      if (i + 2 == words.size()) at.valueOf = row;
      ++i;
      continue;
    }
    if (i == 0 && word == kHelpCommand) continue;  // "help COMMAND" completes as COMMAND does
    const std::string longer = at.path.empty() ? word : at.path + " " + word;
    if (at.operands == 0 && !NextWords(at.path).empty() && (CommandAt(longer) || !NextWords(longer).empty())) {
      at.path = longer;
      at.command = CommandAt(longer);
    } else if (at.command) {
      ++at.operands;
    }
  }
  return at;
}

}  // namespace

std::vector<std::string> Completions(const std::vector<std::string>& words) {
  const std::string current = words.empty() ? "" : words.back();
  const Position at = Walk(words);
  Completion offered;
  if (at.valueOf) {
    offered = at.valueOf->completion;
  } else if (!current.empty() && current[0] == '-') {
    for (const auto* rows : {at.command ? &at.command->options : nullptr, &GlobalOptionRows()})
      for (std::size_t i = 0; rows && i < rows->size(); ++i)
        if (!(*rows)[i].insteadOfOperands || at.operands == 0)
          for (const std::string& name : Names((*rows)[i])) offered.words.push_back(name);
  } else {
    if (at.operands == 0) offered.words = NextWords(at.path);
    if (at.command && at.operands < at.command->operands.size()) {
      const Completion& operand = at.command->operands[at.operands].completion;
      offered.words.insert(offered.words.end(), operand.words.begin(), operand.words.end());
      offered.files = operand.files;
    }
  }
  std::vector<std::string> candidates;
  for (const std::string& word : offered.words)
    if (word.rfind(current, 0) == 0) candidates.push_back(word);
  if (offered.files) candidates.push_back("@files");
  if (offered.variables) candidates.push_back("@variables");
  return candidates;
}

}  // namespace certctl
