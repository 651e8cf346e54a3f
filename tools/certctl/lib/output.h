// How the tool shows results: names of types and events, JSON, tables, and
// where a command's output goes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ivo/certificate_type_table.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// A name as the component prints it (X509_NAME_print writes each byte of a
// non-ASCII character as \xHH), with every run of such escapes that forms
// valid UTF-8 turned back into its characters; other escapes stay as they
// are, so the text stays printable and valid UTF-8.
std::string Utf8Name(const std::string& name);

// The event enumeration's name of an event type the manager publishes;
// "Operation" for the journal's record of an operation of the host or tool.
std::string EventName(std::uint32_t eventType);
std::string FieldName(std::uint32_t fieldId);

// JSON output keeps its keys in the order they were added.
using Json = nlohmann::ordered_json;
// One line of JSON on stdout; bytes that are not UTF-8 become U+FFFD.
void PrintJson(const Json& json);

// Says why a command failed: "certctl: MESSAGE" on stderr (see
// PrintFailure), or with --json {"error": MESSAGE, "exit": STATUS} there,
// so that stdout holds only what a command did. (The monitoring plugins
// say their failures as their status, on stdout.)
void ReportFailure(const RunOptions& global, const std::string& message, int exitStatus);

// Rows under a header, each column as wide as its widest cell, but cells
// cut to `widest` characters (ending in "…"); a row's last cell is printed
// whole and sets no width, so one long cell never pads every line.
void PrintTable(const std::vector<std::vector<std::string>>& rows, std::size_t widest = 48);

// Prints a non-empty `message` on stdout, made safe for a terminal (see
// Printable). With --json, what a command did (`facts`, an object) is one
// line: the facts, then "message"; a note on the way (no facts) prints
// nothing there.
void Announce(const RunOptions& global, const std::string& message, const Json& facts = nullptr);

// `size` bytes at `data` to the file `path` (created with `mode`, whole or
// not at all; see WriteWholeFile), or to stdout when `path` is empty or "-".
void WriteOutput(const std::string& path, const void* data, std::size_t size, mode_t mode);

}  // namespace certctl
