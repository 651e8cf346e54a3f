// The man page's synopses against the command table: each command has one,
// naming its operands and exactly the options the parser takes, and each
// synopsis names a command that exists.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tools/certctl/cli/command.h"

namespace {

using certctl::Command;
using certctl::Commands;

// The synopsis lines of the COMMANDS section as text: the troff fonts,
// quotes and escapes gone.
std::vector<std::string> SynopsisLines() {
  std::ifstream page(CM_MAN_PAGE);
  std::vector<std::string> lines;
  bool inCommands = false, next = false;
  for (std::string line; std::getline(page, line);) {
    if (line.rfind(".SH", 0) == 0) inCommands = line == ".SH COMMANDS";
    if (inCommands && next) {
      line = std::regex_replace(line, std::regex(R"(^\.[A-Z]+ |\\f[BIRP]|")"), "");
      line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
      lines.push_back(std::regex_replace(line, std::regex(" +"), " "));
    }
    next = line == ".TP";
  }
  return lines;
}

// The synopsis entries ("query-server TYPE", "renew --all [--due]") by the
// command they start with: the longest path followed by a space or the end.
std::map<const Command*, std::string> EntriesByCommand(std::vector<std::string>& strays) {
  std::map<const Command*, std::string> entries;
  for (const std::string& line : SynopsisLines()) {
    std::istringstream parts(std::regex_replace(line, std::regex(", "), "\n"));
    for (std::string entry; std::getline(parts, entry);) {
      const Command* owner = nullptr;
      for (const Command* command : Commands()) {
        const std::string path = command->path;
        if (entry.rfind(path, 0) == 0 && (entry.size() == path.size() || entry[path.size()] == ' ') &&
            (!owner || path.size() > std::string(owner->path).size()))
          owner = command;
      }
      if (owner)
        entries[owner] += " " + entry.substr(std::string(owner->path).size()) + " ";
      else
        strays.push_back(entry);
    }
  }
  return entries;
}

std::set<std::string> OptionsIn(const std::string& text) {
  std::set<std::string> names;
  const std::regex option(R"((^|[ \[|])(--?[a-z][a-z-]*))");
  for (auto match = std::sregex_iterator(text.begin(), text.end(), option); match != std::sregex_iterator(); ++match)
    names.insert((*match)[2]);
  return names;
}

TEST(ManPage, EachCommandsSynopsisNamesItsOperandsAndExactlyItsOptions) {
  std::vector<std::string> strays;
  const std::map<const Command*, std::string> entries = EntriesByCommand(strays);
  EXPECT_TRUE(strays.empty()) << "a synopsis of no command: " << strays.front();
  for (const Command* command : Commands()) {
    SCOPED_TRACE(command->path);
    ASSERT_EQ(entries.count(command), 1u) << "no synopsis on the man page";
    const std::string& synopsis = entries.at(command);
    for (const certctl::OperandRow& operand : command->operands)
      EXPECT_NE(synopsis.find(std::string(" ") + operand.name), std::string::npos) << operand.name;
    std::set<std::string> expected;
    for (const certctl::OptionRow& option : command->options) {
      std::istringstream names(option.names);
      for (std::string name; std::getline(names, name, ',');) expected.insert(name);
    }
    EXPECT_EQ(OptionsIn(synopsis), expected) << synopsis;
  }
}

}  // namespace
