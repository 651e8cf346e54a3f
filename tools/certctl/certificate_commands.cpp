// The commands that work on the stored certificates through the manager.
#include <algorithm>
#include <ctime>
#include <iostream>
#include <sstream>

#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"
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

namespace {

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SSZ".
std::int64_t SecondsOf(const std::string& iso) {
  std::tm time{};
  if (!strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%SZ", &time)) return 0;
  return static_cast<std::int64_t>(timegm(&time));
}

}  // namespace

int List(const Invocation& invocation) {
  return WithManager(invocation, false, [&](Session& session, ivo::ICertificatesManager& manager) {
    Json json = Json::array();
    std::vector<std::vector<std::string>> rows = {{"TYPE", "KIND", "SUBJECT", "ISSUER", "EXPIRES", "DAYS LEFT"}};
    for (ivo::CertificateType type = 1; type <= 4; ++type) {
      for (bool client : {false, true}) {
        ozo::string8_t document;
        const result_t result =
            client ? manager.QueryClientCertificate(type, document) : manager.QueryServerCertificate(type, document);
        session.ThrowIfStoreFailed(result);  // a listed failure is the record's, not the store's
        if (result == results::False) continue;
        const char* kind = client ? "client" : "server";
        Json entry = {{"type", TypeKeyword(type)}, {"kind", kind}};
        if (result != results::NoError) {
          const std::string problem = "cannot be decoded: " + DescribeResult(result);
          entry["error"] = problem;
          rows.push_back({TypeKeyword(type), kind, problem});
        } else {
          const Json parsed = Json::parse(document.c_str());
          const std::string expires = parsed.value("ExpirationDate", "");
          const long long daysLeft = (SecondsOf(expires) - static_cast<std::int64_t>(std::time(nullptr))) / 86400;
          entry["subject"] = parsed.value("Subject", "");
          entry["issuer"] = parsed.value("Issuer", "");
          entry["expires"] = expires;
          entry["daysLeft"] = daysLeft;
          rows.push_back(
              {TypeKeyword(type), kind, entry["subject"], entry["issuer"], expires, std::to_string(daysLeft)});
        }
        json.push_back(std::move(entry));
      }
    }
    if (invocation.options.json)
      PrintJson(json);
    else if (rows.size() == 1)
      std::cout << "no certificates stored\n";
    else
      PrintTable(rows);
    return Outcome{kExitOk, ""};
  });
}

}  // namespace certctl
