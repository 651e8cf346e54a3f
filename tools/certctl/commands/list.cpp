// list: every stored record, each judged alone by the component.
#include <ctime>
#include <iostream>

#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/output.h"

namespace certctl::commands {
namespace {

struct Arguments {};

// The kind of a row that shows a key waiting for its certificate.
constexpr const char* kPendingKind = "pending key";

int ListAll(const GlobalOptions& global, const Arguments&) {
  Session session(global, Access::Read);
  const std::vector<StoredCertificate> inventory = ReadInventory(session);
  const std::int64_t now = std::time(nullptr);
  Json json = Json::array();
  std::vector<std::vector<std::string>> rows = {
      {"TYPE", "KIND", "STATUS", "EXPIRES", "DAYS LEFT", "SUBJECT", "ISSUER"}};
  for (const StoredCertificate& stored : inventory) {
    const std::string status = StatusOf(stored, now);
    Json entry = {{"type", stored.type.keyword()}, {"kind", stored.kind()}, {"status", status}};
    if (!stored.problem.empty()) {
      entry["error"] = stored.problem;
      rows.push_back(
          {stored.type.keyword(), stored.kind(), status, "", "", stored.problem + " (certctl repair removes it)"});
    } else {
      const std::int64_t daysLeft = DaysUntil(stored.notAfterSeconds, now);
      entry.update({{"subject", stored.subject},
                    {"issuer", stored.issuer},
                    {"expires", stored.notAfter},
                    {"daysLeft", daysLeft}});
      rows.push_back({stored.type.keyword(), stored.kind(), status, stored.notAfter, std::to_string(daysLeft),
                      stored.subject, stored.issuer});
    }
    json.push_back(std::move(entry));
  }
  for (const auto& [type, facts] : ReadPendingKeys(session)) {
    const std::string keyword = type.keyword();
    json.push_back({{"type", keyword},
                    {"kind", kPendingKind},
                    {"status", "pending"},
                    {"created", IsoFromSeconds(facts.created)},
                    {"certificateKept", facts.certificateKept}});
    rows.push_back({keyword, kPendingKind, "pending", "", "",
                    "made " + IsoFromSeconds(facts.created) + "; " + PendingKeyHint(type, facts)});
  }
  if (global.json)
    PrintJson(json);
  else if (rows.size() == 1)
    std::cout << "no certificates stored\n";
  else
    PrintTable(rows);
  return kExitOk;
}

}  // namespace

Command List() { return Define<Arguments>("list", "every stored certificate and its status", {}, {}, ListAll); }

}  // namespace certctl::commands
