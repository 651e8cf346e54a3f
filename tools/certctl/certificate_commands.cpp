// The commands that work on the stored certificates through the manager.
#include <ctime>
#include <iostream>

#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"
#include "tools/certctl/inventory.h"
#include "tools/certctl/output.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

int SetCertificate(const Invocation& invocation, bool client) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  const ozo::blob_t blob = ReadFileBytes(invocation.Argument(1, "FILE"));
  ozo::string8_t password;
  if (client) password = ReadPassword(PasswordOf(invocation), "Password of the PKCS#12 container: ");
  const bool policy = invocation.Has("--policy");
  const std::string kind = client ? "client" : "server";
  const int status = WithManager(invocation, true, [&](Session& session, ivo::ICertificatesManager& manager) {
    result_t result;
    if (client) {
      const ivo::ClientCertificate record(blob, password);
      result = policy ? manager.SetPolicyClientCertificate(type, record)
                      : manager.SetClientCertificate(type, record, UserInitiator());
    } else {
      const ivo::ServerCertificate record{blob};
      result = policy ? manager.SetPolicyServerCertificate(type, record)
                      : manager.SetServerCertificate(type, record, UserInitiator());
    }
    return Report(session, result, kind + " certificate of " + TypeKeyword(type) + " stored",
                  "the same " + kind + " certificate is stored already");
  });
  password.secure_clear();
  return status;
}

int RemoveCertificate(const Invocation& invocation, bool client) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  const bool policy = invocation.Has("--policy");
  const std::string kind = client ? "client" : "server";
  return WithManager(invocation, true, [&](Session& session, ivo::ICertificatesManager& manager) {
    const result_t result = client ? (policy ? manager.RemovePolicyClientCertificate(type)
                                             : manager.RemoveClientCertificate(type, UserInitiator()))
                                   : (policy ? manager.RemovePolicyServerCertificate(type)
                                             : manager.RemoveServerCertificate(type, UserInitiator()));
    return Report(session, result, kind + " certificate of " + TypeKeyword(type) + " removed",
                  "no " + kind + " certificate of " + TypeKeyword(type) + " is stored");
  });
}

int GetServer(const Invocation& invocation, bool pem) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  return WithManager(invocation, false, [&](Session& session, ivo::ICertificatesManager& manager) {
    ivo::ServerCertificate record;
    const result_t result =
        pem ? manager.GetServerPemCertificate(type, record) : manager.GetServerCertificate(type, record);
    const Outcome outcome = Report(session, result, "", "");
    if (outcome.status == kExitOk) WriteOutput(invocation, record.certificate);
    return outcome;
  });
}

int GetClient(const Invocation& invocation) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  if (invocation.Value("--out").empty()) throw Failure(kExitUsage, "get-client needs --out FILE for the container");
  return WithManager(invocation, false, [&](Session& session, ivo::ICertificatesManager& manager) {
    ivo::ClientCertificate record;
    const result_t result = manager.GetClientCertificate(type, record);
    Outcome outcome = Report(session, result, "", "");
    if (outcome.status != kExitOk) return outcome;
    WriteOutput(invocation, record.certificate);
    if (invocation.Has("--show-password"))
      std::cout << "password: " << record.password.c_str() << "\n";
    else
      outcome.message = "container written to " + invocation.Value("--out") + " (password hidden; --show-password)";
    return outcome;
  });
}

int Query(const Invocation& invocation, bool client) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  return WithManager(invocation, false, [&](Session& session, ivo::ICertificatesManager& manager) {
    ozo::string8_t json;
    const result_t result =
        client ? manager.QueryClientCertificate(type, json) : manager.QueryServerCertificate(type, json);
    const Outcome outcome = Report(
        session, result, "",
        std::string("no ") + (client ? "client" : "server") + " certificate of " + TypeKeyword(type) + " is stored");
    if (outcome.status == kExitOk) std::cout << json.c_str();
    return outcome;
  });
}

int List(const Invocation& invocation) {
  const std::vector<StoredCertificate> inventory = ReadInventory(invocation.options);
  const std::int64_t now = std::time(nullptr);
  Json json = Json::array();
  std::vector<std::vector<std::string>> rows = {{"TYPE", "KIND", "SUBJECT", "ISSUER", "EXPIRES", "DAYS LEFT"}};
  for (const StoredCertificate& stored : inventory) {
    Json entry = {{"type", TypeKeyword(stored.type)}, {"kind", stored.kind()}};
    if (!stored.problem.empty()) {
      entry["error"] = stored.problem;
      rows.push_back({TypeKeyword(stored.type), stored.kind(), stored.problem});
    } else {
      const std::int64_t daysLeft = DaysUntil(stored.notAfterSeconds, now);
      entry.update({{"subject", stored.subject},
                    {"issuer", stored.issuer},
                    {"expires", stored.notAfter},
                    {"daysLeft", daysLeft}});
      rows.push_back({TypeKeyword(stored.type), stored.kind(), stored.subject, stored.issuer, stored.notAfter,
                      std::to_string(daysLeft)});
    }
    json.push_back(std::move(entry));
  }
  if (invocation.options.json)
    PrintJson(json);
  else if (rows.size() == 1)
    std::cout << "no certificates stored\n";
  else
    PrintTable(rows);
  return kExitOk;
}

}  // namespace certctl
