// The commands that work on the stored certificates through the manager.
#include <ctime>
#include <iostream>

#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"
#include "tools/certctl/file_checks.h"
#include "tools/certctl/inventory.h"
#include "tools/certctl/output.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

namespace {

ivo::ChangeInitiator InitiatorOf(bool policy) { return policy ? ivo::ChangeInitiator() : UserInitiator(); }

std::string SlotName(ivo::CertificateType type, bool client) {
  return std::string(TypeKeyword(type)) + (client ? " client" : " server");
}

// The stored record of the slot when the component cannot use it: a change
// of that slot then fails because of the stored record, not the new file.
std::optional<StoredCertificate> BrokenRecord(Session& session, ivo::CertificateType type, bool client) {
  if (type < 1 || type > 4) return std::nullopt;
  std::optional<StoredCertificate> stored =
      JudgeSlot(session.host(), session.component(), session.trace(), type, client);
  return stored && !stored->problem.empty() ? stored : std::nullopt;
}

}  // namespace

// certctl checks the file first (what it holds, and nothing else); the
// component then decides as it does for any host (validity, policy).
int SetCertificate(const Invocation& invocation, bool client) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0));
  const std::string& file = invocation.Argument(1);
  const ozo::blob_t blob = ReadFileBytes(file);
  Secret password;
  UniquePtr<X509> certificate;
  if (client) {
    password = ReadPassword(PasswordOf(invocation, file), "Password of the PKCS#12 container: ");
    certificate = std::move(CheckClientFile(file, blob, password).certificate);
  } else {
    certificate = CheckServerFile(file, blob);
  }
  const bool policy = invocation.Has("--policy");
  const std::string kind = client ? "client" : "server";
  const Access access = client ? Access::WriteSecrets : Access::Write;
  return WithManager(invocation, access, [&](Session& session, ivo::ICertificatesManager& manager) {
    result_t result;
    if (client) {
      const ivo::ClientCertificate record(blob, password.text());
      result = policy ? manager.SetPolicyClientCertificate(type, record)
                      : manager.SetClientCertificate(type, record, UserInitiator());
    } else {
      const ivo::ServerCertificate record{blob};
      result = policy ? manager.SetPolicyServerCertificate(type, record)
                      : manager.SetServerCertificate(type, record, UserInitiator());
    }
    session.ThrowIfStoreFailed(result);
    if (result == results::CertificateOutOfValidityPeriod)
      throw Failure(kExitFailed, DescribeResult(result) + ": " + ValidityProblem(file, certificate.get()), result);
    if (result == results::ExceptionHasNoResultCode)
      if (const std::optional<StoredCertificate> broken = BrokenRecord(session, type, client))
        throw Failure(kExitFailed,
                      "the stored " + broken->slot() + " record " + broken->problem +
                          "; remove it first (certctl remove-" + kind + " " + TypeKeyword(type) + ")",
                      result);
    return Report(session, result, kind + " certificate of " + TypeKeyword(type) + " stored",
                  "the same " + kind + " certificate is stored already");
  });
}

// A record the component cannot decode is removed all the same, but no event
// can describe it and the component reports the failure to describe it: the
// removal is complete, so it is kept, journalled and reported as done.
int RemoveCertificate(const Invocation& invocation, bool client) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0));
  const bool policy = invocation.Has("--policy");
  const std::string kind = client ? "client" : "server";
  return WithManager(invocation, Access::Write, [&](Session& session, ivo::ICertificatesManager& manager) {
    const std::optional<StoredCertificate> broken = BrokenRecord(session, type, client);
    const result_t result = client ? (policy ? manager.RemovePolicyClientCertificate(type)
                                             : manager.RemoveClientCertificate(type, UserInitiator()))
                                   : (policy ? manager.RemovePolicyServerCertificate(type)
                                             : manager.RemoveServerCertificate(type, UserInitiator()));
    session.ThrowIfStoreFailed(result);
    if (ozo::Failed(result) && broken &&
        !JudgeSlot(session.host(), session.component(), session.trace(), type, client)) {
      JournalRemoval(session, type, client, InitiatorOf(policy));
      return Outcome{kExitOk, SlotName(type, client) +
                                  " record removed; no certificate is named in its event, since it " + broken->problem};
    }
    return Report(session, result, kind + " certificate of " + TypeKeyword(type) + " removed",
                  "no " + kind + " certificate of " + TypeKeyword(type) + " is stored");
  });
}

int GetServer(const Invocation& invocation, bool pem) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0));
  return WithManager(invocation, Access::Read, [&](Session& session, ivo::ICertificatesManager& manager) {
    ivo::ServerCertificate record;
    const result_t result =
        pem ? manager.GetServerPemCertificate(type, record) : manager.GetServerCertificate(type, record);
    const Outcome outcome = Report(session, result, "", "");
    if (outcome.status == kExitOk) WriteOutput(invocation, record.certificate, 0644);
    return outcome;
  });
}

int GetClient(const Invocation& invocation) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0));
  return WithManager(invocation, Access::Read, [&](Session& session, ivo::ICertificatesManager& manager) {
    ivo::ClientCertificate record;
    const result_t result = manager.GetClientCertificate(type, record);
    Outcome outcome = Report(session, result, "", "");
    if (outcome.status != kExitOk) return outcome;
    WriteOutput(invocation, record.certificate, 0600);
    if (invocation.Has("--show-password"))
      std::cout << "password: " << record.password.c_str() << "\n";
    else
      outcome.message = "container written to " + invocation.Value("--out") + " (password hidden; --show-password)";
    return outcome;
  });
}

int Query(const Invocation& invocation, bool client) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0));
  return WithManager(invocation, Access::Read, [&](Session& session, ivo::ICertificatesManager& manager) {
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
  Session session(invocation.options, Access::Read);
  const std::vector<StoredCertificate> inventory = ReadInventory(session);
  const std::int64_t now = std::time(nullptr);
  Json json = Json::array();
  std::vector<std::vector<std::string>> rows = {
      {"TYPE", "KIND", "STATUS", "EXPIRES", "DAYS LEFT", "SUBJECT", "ISSUER"}};
  for (const StoredCertificate& stored : inventory) {
    const std::string status = StatusOf(stored, now);
    Json entry = {{"type", TypeKeyword(stored.type)}, {"kind", stored.kind()}, {"status", status}};
    if (!stored.problem.empty()) {
      entry["error"] = stored.problem;
      rows.push_back({TypeKeyword(stored.type), stored.kind(), status, "", "", stored.problem});
    } else {
      const std::int64_t daysLeft = DaysUntil(stored.notAfterSeconds, now);
      entry.update({{"subject", stored.subject},
                    {"issuer", stored.issuer},
                    {"expires", stored.notAfter},
                    {"daysLeft", daysLeft}});
      rows.push_back({TypeKeyword(stored.type), stored.kind(), status, stored.notAfter, std::to_string(daysLeft),
                      stored.subject, stored.issuer});
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
