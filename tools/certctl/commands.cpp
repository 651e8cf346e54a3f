#include "tools/certctl/commands.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstdio>
#include <ctime>
#include <functional>
#include <iostream>
#include <sstream>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "host/storage/record_descriptors.h"
#include "ivo/certificate_type_table.h"
#include "tools/certctl/errors.h"
#include "tools/certctl/input.h"
#include "tools/certctl/output.h"

namespace certctl {
namespace {

using ozo::result_t;
namespace results = ozo::results;
using Manager = ozo::ref_ptr<ivo::ICertificatesManager>;

// Local changes name the user who runs the tool.
ivo::ChangeInitiator UserInitiator() {
  ivo::ChangeInitiator initiator;
  initiator.kind = ivo::ChangeInitiator::User;
  initiator.details.emplace();
  initiator.details->id = static_cast<std::uint32_t>(::getuid());
  const passwd* user = ::getpwuid(::getuid());
  for (const char* c = user ? user->pw_name : "unknown"; *c; ++c)
    initiator.details->name += static_cast<char16_t>(static_cast<unsigned char>(*c));
  return initiator;
}

// The exit status of a component result, with one line on stderr for failures.
int Report(const Invocation& invocation, result_t result, const std::string& done, const std::string& nothing) {
  if (result == results::NoError) {
    if (!done.empty() && !invocation.options.json) std::cout << done << "\n";
    return kExitOk;
  }
  if (result == results::False) {
    if (!invocation.options.json) std::cout << nothing << "\n";
    return kExitFalse;
  }
  if (ozo::Succeeded(result)) return kExitOk;
  std::string hint;
  if (result == results::CertificateOutOfValidityPeriod) hint = ": the certificate is outside its validity period";
  if (result == results::AccessDenied) hint = ": the policy locks this setting";
  if (result == results::ExceptionHasNoResultCode) hint = ": the data cannot be decoded (wrong format or password?)";
  if (result == results::InvalidArgument) hint = ": invalid certificate type";
  throw Failure(kExitFailed, DescribeResult(result) + hint, result);
}

std::string Where(const Invocation& invocation) {
  std::string where = invocation.command;
  for (const std::string& argument : invocation.arguments) where += " " + argument;
  return where;
}

// Runs `body` with the manager of a session; commits when `body` succeeds.
int WithManager(const Invocation& invocation, bool writes,
                const std::function<int(Session&, ivo::ICertificatesManager&)>& body) {
  Session session(invocation.options, writes);
  Manager manager;
  const result_t created = session.CreateManager(manager);
  if (ozo::Failed(created))
    throw Failure(kExitFailed, "cannot create the certificates manager: " + DescribeResult(created), created);
  int status = kExitFailed;
  try {
    status = body(session, *manager);
  } catch (...) {
    manager.Reset();
    session.Finish(false);
    throw;
  }
  manager.Reset();  // flushes the storage
  const result_t committed = session.Finish(status == kExitOk || status == kExitFalse);
  if (ozo::Failed(committed))
    throw Failure(kExitStore, "cannot commit to the store: " + session.store().LastError(), committed);
  return status;
}

PasswordSource PasswordOf(const Invocation& invocation) {
  return {invocation.Value("--password-file"), invocation.Value("--password-env")};
}

void WriteOutput(const Invocation& invocation, const ozo::blob_t& bytes) {
  const std::string out = invocation.Value("--out");
  if (out.empty()) {
    std::cout.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  } else {
    WriteFileBytes(out, bytes);
  }
}

int SetCertificate(const Invocation& invocation, bool client) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  const ozo::blob_t blob = ReadFileBytes(invocation.Argument(1, "FILE"));
  ozo::string8_t password;
  if (client) password = ReadPassword(PasswordOf(invocation), "Password of the PKCS#12 container: ");
  const bool policy = invocation.Has("--policy");
  const std::string kind = client ? "client" : "server";
  return WithManager(invocation, true, [&](Session&, ivo::ICertificatesManager& manager) {
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
    password.secure_clear();
    return Report(invocation, result, kind + " certificate of " + TypeKeyword(type) + " stored",
                  "the same " + kind + " certificate is stored already");
  });
}

int RemoveCertificate(const Invocation& invocation, bool client) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  const bool policy = invocation.Has("--policy");
  const std::string kind = client ? "client" : "server";
  return WithManager(invocation, true, [&](Session&, ivo::ICertificatesManager& manager) {
    const result_t result = client ? (policy ? manager.RemovePolicyClientCertificate(type)
                                             : manager.RemoveClientCertificate(type, UserInitiator()))
                                   : (policy ? manager.RemovePolicyServerCertificate(type)
                                             : manager.RemoveServerCertificate(type, UserInitiator()));
    return Report(invocation, result, kind + " certificate of " + TypeKeyword(type) + " removed",
                  "no " + kind + " certificate of " + TypeKeyword(type) + " is stored");
  });
}

int GetServer(const Invocation& invocation, bool pem) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  return WithManager(invocation, false, [&](Session&, ivo::ICertificatesManager& manager) {
    ivo::ServerCertificate record;
    const result_t result =
        pem ? manager.GetServerPemCertificate(type, record) : manager.GetServerCertificate(type, record);
    if (ozo::Succeeded(result)) WriteOutput(invocation, record.certificate);
    return Report(invocation, result, "", "");
  });
}

int GetClient(const Invocation& invocation) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  if (invocation.Value("--out").empty()) throw Failure(kExitUsage, "get-client needs --out FILE for the container");
  return WithManager(invocation, false, [&](Session&, ivo::ICertificatesManager& manager) {
    ivo::ClientCertificate record;
    const result_t result = manager.GetClientCertificate(type, record);
    if (ozo::Succeeded(result)) {
      WriteOutput(invocation, record.certificate);
      if (invocation.Has("--show-password"))
        std::cout << "password: " << record.password.c_str() << "\n";
      else
        std::cout << "container written to " << invocation.Value("--out") << " (password hidden; --show-password)\n";
    }
    return Report(invocation, result, "", "");
  });
}

int Query(const Invocation& invocation, bool client) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0, "TYPE"));
  return WithManager(invocation, false, [&](Session&, ivo::ICertificatesManager& manager) {
    ozo::string8_t json;
    const result_t result =
        client ? manager.QueryClientCertificate(type, json) : manager.QueryServerCertificate(type, json);
    if (result == results::NoError) std::cout << json.c_str();
    return Report(
        invocation, result, "",
        std::string("no ") + (client ? "client" : "server") + " certificate of " + TypeKeyword(type) + " is stored");
  });
}

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SSZ".
std::int64_t SecondsOf(const std::string& iso) {
  std::tm time{};
  if (!strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%SZ", &time)) return 0;
  return static_cast<std::int64_t>(timegm(&time));
}

// Prints rows under a header, each column as wide as its widest cell.
void PrintTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], row[c].size());
    }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? row[c] + std::string(widths[c] - row[c].size() + 2, ' ') : row[c];
    std::cout << line << "\n";
  }
}

int List(const Invocation& invocation) {
  return WithManager(invocation, false, [&](Session&, ivo::ICertificatesManager& manager) {
    std::ostringstream json;
    std::vector<std::vector<std::string>> rows = {{"TYPE", "KIND", "SUBJECT", "ISSUER", "EXPIRES", "DAYS LEFT"}};
    for (ivo::CertificateType type = 1; type <= 4; ++type) {
      for (bool client : {false, true}) {
        ozo::string8_t document;
        const result_t result =
            client ? manager.QueryClientCertificate(type, document) : manager.QueryServerCertificate(type, document);
        if (result == results::False) continue;
        const char* kind = client ? "client" : "server";
        json << (json.tellp() > 0 ? "," : "") << "{\"type\":" << JsonString(TypeKeyword(type)) << ",\"kind\":\"" << kind
             << "\"";
        if (result != results::NoError) {
          const std::string problem = "cannot be decoded: " + DescribeResult(result);
          json << ",\"error\":" << JsonString(problem) << "}";
          rows.push_back({TypeKeyword(type), kind, problem});
          continue;
        }
        boost::property_tree::ptree tree;
        std::istringstream text(document.c_str());
        boost::property_tree::read_json(text, tree);
        const std::string subject = tree.get<std::string>("Subject", "");
        const std::string issuer = tree.get<std::string>("Issuer", "");
        const std::string expires = tree.get<std::string>("ExpirationDate", "");
        const long long daysLeft = (SecondsOf(expires) - static_cast<std::int64_t>(std::time(nullptr))) / 86400;
        json << ",\"subject\":" << JsonString(subject) << ",\"issuer\":" << JsonString(issuer)
             << ",\"expires\":" << JsonString(expires) << ",\"daysLeft\":" << daysLeft << "}";
        rows.push_back({TypeKeyword(type), kind, subject, issuer, expires, std::to_string(daysLeft)});
      }
    }
    if (invocation.options.json)
      std::cout << "[" << json.str() << "]\n";
    else if (rows.size() == 1)
      std::cout << "no certificates stored\n";
    else
      PrintTable(rows);
    return kExitOk;
  });
}

std::string InitiatorText(const ivo::ChangeInitiator& initiator) {
  static const char* kKinds[] = {"policy", "user", "product", "scheduler"};
  std::string text = initiator.kind < 4 ? kKinds[initiator.kind] : "kind " + std::to_string(initiator.kind);
  if (initiator.details) {
    std::string name;
    for (char16_t c : initiator.details->name.view()) name += c < 0x80 ? static_cast<char>(c) : '?';
    text += " " + name + " (" + std::to_string(initiator.details->id) + ")";
  }
  return text;
}

std::string FieldText(const ivo::RuntimeField& field) {
  return field.data.tag() == ozo::types::VariantTag::DateTime ? IsoFromIntervals(field.data.datetime())
                                                              : std::string(field.data.string8().view());
}

int Events(const Invocation& invocation) {
  Session session(invocation.options, false);
  const auto events = session.store().Events();
  if (invocation.options.json) {
    std::cout << "[";
    for (std::size_t i = 0; i < events.size(); ++i) {
      const auto& e = events[i];
      std::cout << (i ? "," : "") << "{\"event\":" << JsonString(EventName(e.eventType)) << ",\"type\":" << e.eventType
                << ",\"severity\":" << e.severity << ",\"initiator\":" << JsonString(InitiatorText(e.initiator))
                << ",\"time\":" << JsonString(IsoFromSeconds(e.time)) << ",\"fields\":{";
      for (std::size_t f = 0; f < e.fields.size(); ++f)
        std::cout << (f ? "," : "") << JsonString(FieldName(e.fields[f].name)) << ":"
                  << JsonString(FieldText(e.fields[f]));
      std::cout << "}}";
    }
    std::cout << "]\n";
    return kExitOk;
  }
  for (std::size_t i = 0; i < events.size(); ++i) {
    const auto& e = events[i];
    std::printf("%zu  %s  %s (%u)  by %s\n", i + 1, IsoFromSeconds(e.time).c_str(), EventName(e.eventType).c_str(),
                e.eventType, InitiatorText(e.initiator).c_str());
    for (const ivo::RuntimeField& field : e.fields)
      std::printf("     %-15s %s\n", FieldName(field.name).c_str(), FieldText(field).c_str());
  }
  if (events.empty()) std::cout << "no events\n";
  return kExitOk;
}

int Policy(const Invocation& invocation) {
  const std::string& action = invocation.Argument(0, "lock|unlock|show");
  Session session(invocation.options, action != "show");
  if (action == "show") {
    const auto locked = session.store().LockedSettings();
    for (ivo::CertificateType type = 1; type <= 4; ++type) {
      const auto& ids = ivo::kCertificateTypeIds[type - 1];
      std::printf("%-8s server %-9s client %s\n", TypeKeyword(type),
                  locked.count(ids.serverSetting) ? "locked" : "unlocked",
                  locked.count(ids.clientSetting) ? "locked" : "unlocked");
    }
    return kExitOk;
  }
  if (action != "lock" && action != "unlock") throw Failure(kExitUsage, "policy takes lock, unlock or show");
  const ivo::CertificateType type = ParseType(invocation.Argument(1, "TYPE"));
  if (type < 1 || type > 4) throw Failure(kExitUsage, "policy needs a type from 1 to 4");
  const std::string& kind = invocation.Argument(2, "server|client");
  if (kind != "server" && kind != "client") throw Failure(kExitUsage, "the kind is server or client");
  const auto& ids = ivo::kCertificateTypeIds[type - 1];
  const result_t result =
      session.store().SetSettingLocked(kind == "server" ? ids.serverSetting : ids.clientSetting, action == "lock");
  if (ozo::Failed(result)) throw Failure(kExitStore, "cannot change the policy: " + DescribeResult(result), result);
  session.Finish(true);
  std::cout << kind << " certificates of " << TypeKeyword(type) << " are " << action << "ed for local changes\n";
  return kExitOk;
}

int Upgrade(const Invocation& invocation) {
  const std::string from = invocation.Value("--from");
  if (from.empty()) throw Failure(kExitUsage, "upgrade needs --from OLD.db");
  ozo::ref_ptr<host::SqliteStore> old;
  std::string error;
  const result_t opened = host::SqliteStore::Open(from, host::SqliteStore::Mode::ReadOnly, old, error);
  if (ozo::Failed(opened)) throw Failure(kExitStore, "cannot open the old store " + error, opened);
  Session session(invocation.options, true);
  ozo::ref_ptr<app_core::facade::upgrade::IPersistentDataUpgrader> upgrader;
  const result_t created = session.component().Create(
      app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader, session.host(), upgrader);
  if (ozo::Failed(created))
    throw Failure(kExitFailed, "cannot create the upgrader: " + DescribeResult(created), created);
  const result_t result = upgrader->Upgrade(old.get(), &session.store());
  upgrader.Reset();
  const int status =
      Report(invocation, result, "certificates copied from " + from, "the old store has no certificates");
  session.Finish(true);
  return status;
}

// Describes a file without touching any store: the tool writes the record
// into a temporary in-memory store, creates a manager over it and prints the
// manager's own document and what its start-up check reported.
int Inspect(const Invocation& invocation) {
  const ozo::blob_t blob = ReadFileBytes(invocation.Argument(0, "FILE"));
  const bool client = invocation.Has("--client") || !invocation.Value("--password-file").empty() ||
                      !invocation.Value("--password-env").empty();
  ozo::string8_t password;
  if (client) password = ReadPassword(PasswordOf(invocation), "Password of the PKCS#12 container: ");

  Component component;
  std::string error;
  if (!component.Load(LibraryPath(invocation.options.library), error))
    throw Failure(kExitStore, "cannot load the certificates manager: " + error);
  host::HostOptions options;
  options.traceThreshold = 0;
  host::ServiceHost host(std::move(options));
  RouteTrace(host.tracer(), invocation.options.traceLevel, stderr);
  {
    ozo::ref_ptr<ozo::IStorage> set, node;
    host.storageRoot()->AppendNode(client ? "ClientCertificates" : "ServerCertificates", set.Ref());
    set->AppendNode(ivo::kCertificateTypeIds[0].storageKey, node.Ref());
    ozo::ref_ptr<ozo::IStorageSerializer2> serializer;
    ozo::GetInterface(host.locator(), serializer);
    ivo::ServerCertificate server{blob};
    ivo::ClientCertificate clientRecord(blob, password);
    ozo::any_descr_ptr_t value = client ? ozo::any_descr_ptr_t{&clientRecord, host::ClientCertificateDescriptor()}
                                        : ozo::any_descr_ptr_t{&server, host::ServerCertificateDescriptor()};
    serializer->Serialize(&value, node.get(), 0, nullptr);
  }
  password.secure_clear();
  Manager manager;
  const result_t created = component.Create(ivo::ClsIdCertificatesManager, host, manager);
  if (ozo::Failed(created))
    throw Failure(kExitFailed, "cannot create the certificates manager: " + DescribeResult(created), created);
  bool outside = false;
  for (const auto& event : host.events().events()) outside |= event.eventType == ivo::CertificateExpiredEvent;
  ozo::string8_t document;
  const result_t result =
      client ? manager->QueryClientCertificate(1, document) : manager->QueryServerCertificate(1, document);
  manager.Reset();
  if (result != results::NoError)
    return Report(invocation, result == results::False ? results::UnspecifiedError : result, "", "");
  if (invocation.options.json) {
    std::string text = document.c_str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::cout << "{\"certificate\":" << text << ",\"outsideValidityPeriod\":" << (outside ? "true" : "false") << "}\n";
  } else {
    std::cout << document.c_str() << "outside its validity period: " << (outside ? "yes" : "no") << "\n";
  }
  return kExitOk;
}

}  // namespace

const std::string& Invocation::Argument(std::size_t index, const char* what) const {
  if (index >= arguments.size()) throw Failure(kExitUsage, command + " needs " + what);
  return arguments[index];
}

std::string Invocation::Value(const std::string& name) const {
  const auto found = values.find(name);
  return found == values.end() ? std::string() : found->second;
}

int RunCommand(const Invocation& invocation) {
  static const std::map<std::string, std::function<int(const Invocation&)>> kCommands = {
      {"set-server", [](const Invocation& i) { return SetCertificate(i, false); }},
      {"set-client", [](const Invocation& i) { return SetCertificate(i, true); }},
      {"get-server", [](const Invocation& i) { return GetServer(i, false); }},
      {"pem", [](const Invocation& i) { return GetServer(i, true); }},
      {"get-client", GetClient},
      {"query-server", [](const Invocation& i) { return Query(i, false); }},
      {"query-client", [](const Invocation& i) { return Query(i, true); }},
      {"remove-server", [](const Invocation& i) { return RemoveCertificate(i, false); }},
      {"remove-client", [](const Invocation& i) { return RemoveCertificate(i, true); }},
      {"list", List},
      {"events", Events},
      {"policy", Policy},
      {"upgrade", Upgrade},
      {"inspect", Inspect},
  };
  const auto command = kCommands.find(invocation.command);
  if (command == kCommands.end()) throw Failure(kExitUsage, "unknown command '" + invocation.command + "'");
  try {
    return command->second(invocation);
  } catch (Failure& failure) {
    if (failure.exitCode == kExitFailed)
      throw Failure(failure.exitCode, Where(invocation) + ": " + failure.what(), failure.result);
    throw;
  }
}

const char* Usage() {
  return R"(usage: certctl [GLOBAL OPTIONS] COMMAND [ARGUMENTS]

Keeps one trusted server certificate and one client certificate per peer type
(edr, sandbox, ndr, siem; or 1-4) through the certificates manager library.

Commands:
  set-server TYPE FILE [--policy]        store a server certificate (DER or PEM)
  set-client TYPE FILE [--policy] [PASSWORD]
                                         store a client certificate (PKCS#12)
  get-server TYPE [--out FILE]           the stored server certificate as stored
  pem TYPE [--out FILE]                  the stored server certificate as PEM
  get-client TYPE --out FILE [--show-password]
                                         the stored PKCS#12 container
  query-server TYPE | query-client TYPE  the certificate described as JSON
  remove-server TYPE [--policy] | remove-client TYPE [--policy]
  list                                   every stored certificate, with days left
  events                                 the published events, oldest first
  policy lock|unlock TYPE server|client  lock a setting against local changes
  policy show
  upgrade --from OLD.db                  copy the certificates of an older store
  inspect FILE [--client] [PASSWORD]     describe a file without touching a store

  --policy   the change comes from the policy (never refused by it)
  PASSWORD   --password-file FILE or --password-env VARIABLE; else a prompt

Global options:
  --store PATH     the store (default $CERTCTL_STORE, else
                   ~/.local/share/certctl/certificates.db)
  --json           machine-readable output
  --trace LEVEL    the component's trace up to LEVEL (300 errors, 800 all)
  --log FILE       write the trace to FILE instead of stderr
  --library PATH   the certificates manager library ($CERTCTL_LIBRARY)

Exit status: 0 done; 1 nothing to do; 2 the component refused or failed
(its code is printed, e.g. 0x8000004c (Not found)); 3 bad usage or input;
4 the store or the library cannot be used.
)";
}

}  // namespace certctl
