// A command of certctl: its name, operands and options, each bound to a field
// of the command's own arguments, its help, and the function that runs it.
// A command's file defines its row and its body side by side
// (commands/*.cpp); the registry lists the rows in the order the help shows
// them, and the parser, the usage lines and the help are all made from them.
//
// Adding an option of a known kind is one line in the row and one field in
// the command's arguments:
//   struct Arguments { Timeout timeout; };
//   Option(&Arguments::timeout, "--timeout", "SECONDS", "give up after SECONDS (10)")
#pragma once

#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "tools/certctl/cli/values.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// The options every command takes.
struct GlobalOptions : RunOptions {
  bool help = false;
  bool version = false;
};

// Reads one text into the field a row is bound to, in an arguments object.
using Setter = std::function<void(void* arguments, const std::string& text)>;

struct OptionRow {
  const char* names;  // "-o,--out": the short and long names
  const char* value;  // the value's name ("FILE"); null for a switch
  const char* help;
  bool required = false;
  bool repeatable = false;         // each value is kept (a vector field)
  Setter set{};                    // a switch is set with "" when given
  std::string defaultText{};       // what the field holds when the option is not given ("10"), for the help
  bool mode = false;               // a switch that takes no other option of its command (--show, --cancel)
  bool insteadOfOperands = false;  // stands for the operands (renew --all): never offered after one
  Completion completion{};         // of the value

  // "--out": the name the row is known by in messages.
  std::string LongName() const;
};

struct OperandRow {
  const char* name;  // "FILE"
  Setter set;
  bool required = true;  // an optional operand may be left out, the last ones only
  Completion completion{};
};

// What the parser hands a command: the texts of its operands, in order, and
// of each option given, by the row's index.
struct GivenValues {
  std::vector<std::string> operands;
  std::map<std::size_t, std::vector<std::string>> options;
};

struct Command {
  const char* path;     // "set-server", "policy lock"
  const char* summary;  // one line, for the help
  std::vector<OperandRow> operands;
  std::vector<OptionRow> options;
  // What the command's exit statuses mean, when they are not the tool's
  // usual ones; for the help and the man page.
  const char* exitStatus = nullptr;
  // What `help COMMAND` says after the summary, wrapped at 79 columns: the
  // rules a person needs before running it.
  const char* details = nullptr;
  // Reads the given values into the command's arguments and runs it;
  // returns the exit status, throws Failure.
  std::function<int(const GlobalOptions&, const GivenValues&)> run;
  // For a monitoring plugin (check, probe): says why it cannot judge, as its
  // UNKNOWN status line on stdout, and returns its exit status. A usage error
  // of such a command is reported this way too, never on stderr alone.
  std::function<int(const GlobalOptions&, const std::string& why)> unknown;
};

template <class Arguments, class Field>
Setter Bind(Field Arguments::*field, std::string name) {
  return [field, name](void* arguments, const std::string& text) {
    if constexpr (std::is_same_v<Field, bool>)
      static_cast<Arguments*>(arguments)->*field = true;
    else
      ReadValue(text, name, static_cast<Arguments*>(arguments)->*field);
  };
}

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};

// An option with a value (or a switch, for a bool field). A vector field is
// repeatable.
// The help prints the field's default, read from a fresh `Arguments`.
template <class Arguments, class Field>
OptionRow Option(Field Arguments::*field, const char* names, const char* value, const char* help,
                 bool required = false) {
  OptionRow row{names, value, help};
  row.required = required;
  row.repeatable = IsVector<Field>::value;
  row.set = Bind(field, row.LongName());
  row.defaultText = DefaultText(Arguments().*field);
  row.completion = CompletionOf(Kind<Field>{});
  if (value) AddCompletionOfName(value, row.completion);
  return row;
}
template <class Arguments>
OptionRow Switch(bool Arguments::*field, const char* names, const char* help) {
  return Option(field, names, nullptr, help);
}
// A switch that makes the command do something else: given with any other
// option of the command, it is a usage error, not an option dropped.
template <class Arguments>
OptionRow Mode(bool Arguments::*field, const char* names, const char* help) {
  OptionRow row = Option(field, names, nullptr, help);
  row.mode = true;
  return row;
}
// A switch (or option) that stands for the command's operands or goes only
// with one that does (renew --all, --due): completion offers it only while
// no operand is given; the command refuses both given together.
inline OptionRow InsteadOfOperands(OptionRow row) {
  row.insteadOfOperands = true;
  return row;
}
template <class Arguments, class Field>
OperandRow Operand(Field Arguments::*field, const char* name) {
  return {name, Bind(field, name), true, CompletionOf(Kind<Field>{})};
}
template <class Arguments, class Field>
OperandRow OptionalOperand(Field Arguments::*field, const char* name) {
  return {name, Bind(field, name), false, CompletionOf(Kind<Field>{})};
}

// A command whose body takes `Arguments`: each given text is read into its
// field, in the order of the row, then `body` runs.
template <class Arguments>
Command Define(const char* path, const char* summary, std::vector<OperandRow> operands, std::vector<OptionRow> options,
               int (*body)(const GlobalOptions&, const Arguments&)) {
  Command command{path, summary, std::move(operands), std::move(options), nullptr, nullptr, {}, {}};
  command.run = [operandRows = command.operands, optionRows = command.options, body](const GlobalOptions& global,
                                                                                     const GivenValues& given) {
    Arguments arguments;
    for (std::size_t i = 0; i < operandRows.size() && i < given.operands.size(); ++i)
      if (operandRows[i].required || !given.operands[i].empty()) operandRows[i].set(&arguments, given.operands[i]);
    for (const auto& [index, texts] : given.options)
      for (const std::string& text : texts) optionRows[index].set(&arguments, text);
    return body(global, arguments);
  };
  return command;
}

// Every command, in the order the help lists them.
const std::vector<const Command*>& Commands();
// The options every command takes (--store, --json, ...), bound to
// GlobalOptions.
const std::vector<OptionRow>& GlobalOptionRows();

}  // namespace certctl
