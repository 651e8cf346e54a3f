// Restores mutated backups. A backup is a file from elsewhere: every row of
// it may hold anything SQLite can store. The base is a real store made here
// by the project's own code (certificates set through the component, a
// pending key requested, renewal settings, a state, a lock, the journal);
// the input is a program of row edits applied to a copy of its snapshot:
// each edit a table byte, an operation byte (change a column, add a row
// copied from one with a column changed, drop a row), a row short, a column
// byte and a value (null, an edge number, any number, text or bytes of the
// input, or a word from a list). The edited file is opened as a backup is,
// restored into a store with or without its renewal settings (the first
// byte's parity), and everything that reads a store reads it back.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "fuzz/fuzz_input.h"
#include "host/lifecycle/imported.h"
#include "host/lifecycle/pending_key.h"
#include "host/lifecycle/schedule.h"
#include "host/lifecycle/store.h"
#include "host/service_host.h"
#include "host/storage/sqlite_schema.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"
#include "ozo/module.h"

namespace {

using ossl::UniquePtr;
namespace lifecycle = host::lifecycle;

void Require(bool ok) {
  if (!ok) std::abort();
}

ozo::ref_ptr<ivo::ICertificatesManager> StartManager(host::ServiceHost& host) {
  ozo::ref_ptr<ozo::IObject> object;
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
  if (ozoCreateObject(ivo::ClsIdCertificatesManager, host.locatorAddress(), object.Ref()) == 0)
    ozo::QueryInterface(object.get(), manager);
  return manager;
}

// A self-signed CA certificate for `key`, valid around now.
UniquePtr<X509> CaCertificate(EVP_PKEY* key) {
  UniquePtr<X509> certificate(X509_new());
  X509* made = certificate.get();
  X509_set_version(made, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(made), 1);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(made), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>("Fuzz CA"), -1, -1, 0);
  X509_set_issuer_name(made, X509_get_subject_name(made));
  X509_gmtime_adj(X509_getm_notBefore(made), -86400);
  X509_gmtime_adj(X509_getm_notAfter(made), 30 * 86400);
  X509_set_pubkey(made, key);
  X509V3_CTX context;
  X509V3_set_ctx(&context, made, made, nullptr, nullptr, 0);
  UniquePtr<X509_EXTENSION> constraints(
      X509V3_EXT_conf_nid(nullptr, &context, NID_basic_constraints, "critical,CA:TRUE"));
  X509_add_ext(made, constraints.get(), -1);
  X509_sign(made, key, EVP_sha256());
  return certificate;
}

// The snapshot of a store that holds a row in every table.
std::string BaseImage(const std::string& folder) {
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  Require(host::SqliteStore::Open(folder + "/base.db", host::SqliteStore::Mode::ReadWrite, store, error) == 0);
  {
    host::HostOptions options;
    options.traceThreshold = 0;
    options.store = store;
    host::ServiceHost host(std::move(options));
    const ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(host);
    Require(static_cast<bool>(manager));
    const UniquePtr<EVP_PKEY> key(EVP_EC_gen("P-256"));
    const UniquePtr<X509> ca = CaCertificate(key.get());
    const std::string pem = ossl::PemOf({ca.get()});
    const std::string container = ossl::MakeContainer(key.get(), ca.get(), {}, "pw");
    ivo::ChangeInitiator user;
    user.kind = 1;
    Require(manager->SetServerCertificate(1, ivo::ServerCertificate{fuzz::BlobOf(pem)}, user) == 0);
    Require(manager->SetClientCertificate(2, ivo::ClientCertificate(fuzz::BlobOf(container), "pw"), user) == 0);
    lifecycle::SqliteLifecycleStore rows(*store);
    lifecycle::RenewalConfig config;
    config.server = "http://ca.test/";
    config.trusted = pem;
    config.beforeDays = 10;
    config.hook = "true";
    Require(rows.PutRenewalConfig(*ivo::PeerType::From(1), config) == 0);
    lifecycle::RenewalState state;
    lifecycle::RecordFailure(state, 1700000000, "refused", 1800000000);
    Require(rows.PutRenewalState(*ivo::PeerType::From(1), state) == 0);
    lifecycle::KeyOrder order;
    order.type = ivo::PeerType::From(3);
    order.name = lifecycle::NameFields{{"CN", "fuzz"}};
    lifecycle::KeyRequest request;
    Require(lifecycle::RequestKey(rows, *manager, order, request).ok());
    Require(store->locks().SetLocked(ivo::PeerType::From(4)->ids().serverSetting, true) == 0);
  }
  const std::string path = folder + "/base.backup";
  Require(store->BackupTo(path, error) == 0);
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// Where a run works: the base image, and the store restores go into.
struct Setting {
  std::string image;
  ozo::ref_ptr<host::SqliteStore> target;
};

const Setting& Once() {
  static const Setting setting = [] {
    // In memory where the system has it: every restore commits, and a disk
    // would make each commit wait for it.
    char folder[] = "/dev/shm/restore_fuzzer.XXXXXX";
    Require(::mkdtemp(folder) != nullptr);
    Setting made;
    made.image = BaseImage(folder);
    std::string error;
    Require(host::SqliteStore::Open(std::string(folder) + "/target.db", host::SqliteStore::Mode::ReadWrite, made.target,
                                    error) == 0);
    return made;
  }();
  return setting;
}

constexpr std::int64_t kEdges[] = {
    0, 1, 2, 3, 4, 5, 9, -1, -2, 100000, INT64_MAX, INT64_MIN, INT32_MAX, 4294967296, 253402300800, -62135596800};
constexpr const char* kWords[] = {"kur",
                                  "cr",
                                  "ir",
                                  "http://ca.test/",
                                  "file:///etc/passwd",
                                  "https://ca.test/",
                                  "127.0.0.1:1",
                                  "",
                                  "-----BEGIN CERTIFICATE-----",
                                  "ZepaEdr",
                                  "ClientCertificates"};

// Binds the value the input describes to parameter 1 of `statement`.
void BindValue(sqlite3_stmt* statement, fuzz::Input& input) {
  switch (input.Byte() % 6) {
    case 0:
      sqlite3_bind_null(statement, 1);
      break;
    case 1:
      sqlite3_bind_int64(statement, 1, kEdges[input.Byte() % std::size(kEdges)]);
      break;
    case 2: {
      std::int64_t value = 0;
      for (int i = 0; i < 8; ++i)
        value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) << 8 | input.Byte());
      sqlite3_bind_int64(statement, 1, value);
      break;
    }
    case 3: {
      const std::string text = input.Bytes(input.Byte());
      sqlite3_bind_text(statement, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
    case 4: {
      const std::string bytes = input.Bytes(input.Short() % 4096);
      sqlite3_bind_blob(statement, 1, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      break;
    }
    default:
      sqlite3_bind_text(statement, 1, kWords[input.Byte() % std::size(kWords)], -1, SQLITE_STATIC);
  }
}

// The columns of `table`, in order.
std::vector<std::string> Columns(sqlite3* db, const std::string& table) {
  std::vector<std::string> columns;
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, ("PRAGMA table_info(\"" + table + "\")").c_str(), -1, &statement, nullptr);
  while (statement && sqlite3_step(statement) == SQLITE_ROW)
    columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
  sqlite3_finalize(statement);
  return columns;
}

// Runs `sql` with the input's value bound; a statement SQLite refuses (a
// constraint) changes nothing, as in any file.
void Run(sqlite3* db, const std::string& sql, fuzz::Input& input, std::int64_t row) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return;
  if (sqlite3_bind_parameter_count(statement) >= 1) BindValue(statement, input);
  if (sqlite3_bind_parameter_count(statement) >= 2) sqlite3_bind_int64(statement, 2, row);
  sqlite3_step(statement);
  sqlite3_finalize(statement);
}

// The base image with the input's edits.
std::string Edited(const std::string& base, fuzz::Input& input) {
  sqlite3* db = nullptr;
  Require(sqlite3_open(":memory:", &db) == SQLITE_OK);
  auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(base.size()));
  std::copy(base.begin(), base.end(), copy);
  Require(sqlite3_deserialize(db, "main", copy, static_cast<sqlite3_int64>(base.size()),
                              static_cast<sqlite3_int64>(base.size()),
                              SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE) == SQLITE_OK);
  for (int edits = 0; !input.empty() && edits < 16; ++edits) {
    const std::string table = host::sqlite::kTables[input.Byte() % std::size(host::sqlite::kTables)];
    const std::uint8_t operation = input.Byte() % 3;
    const std::int64_t row = input.Short() % 8;
    const std::vector<std::string> columns = Columns(db, table);
    const std::string column = columns.empty() ? "rowid" : columns[input.Byte() % columns.size()];
    const std::string quoted = "\"" + table + "\"", nth = "(SELECT rowid FROM " + quoted + " LIMIT 1 OFFSET ?2)";
    if (operation == 0) {
      Run(db, "UPDATE " + quoted + " SET \"" + column + "\" = ?1 WHERE rowid = " + nth, input, row);
    } else if (operation == 1) {
      std::string names, values;
      for (const std::string& each : columns) {
        names += (names.empty() ? "\"" : ", \"") + each + "\"";
        values += (values.empty() ? "" : ", ") + (each == column ? std::string("?1") : "\"" + each + "\"");
      }
      Run(db,
          "INSERT INTO " + quoted + "(" + names + ") SELECT " + values + " FROM " + quoted + " WHERE rowid = " + nth,
          input, row);
    } else {
      Run(db, "DELETE FROM " + quoted + " WHERE rowid = " + nth, input, row);
    }
  }
  sqlite3_int64 size = 0;
  unsigned char* image = sqlite3_serialize(db, "main", &size, 0);
  std::string edited = image ? std::string(reinterpret_cast<char*>(image), static_cast<std::size_t>(size)) : "";
  sqlite3_free(image);
  sqlite3_close(db);
  return edited;
}

// Everything that reads a restored store: the component's records, the
// lifecycle's rows and what the schedule makes of them.
void ReadBack(host::SqliteStore& store) {
  host::HostOptions options;
  options.traceThreshold = 0;
  options.store = ozo::ref_ptr<ozo::IPersistentStorage>(&store);
  host::ServiceHost host(std::move(options));
  const ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(host);
  lifecycle::SqliteLifecycleStore rows(store);
  std::map<ivo::PeerType, lifecycle::RenewalConfig> configs;
  std::map<ivo::PeerType, std::int64_t> pending;
  rows.RenewalConfigs(configs);
  rows.PendingKeyTypes(pending);
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    ivo::ClientCertificate client;
    ivo::ServerCertificate server;
    ozo::string8_t json;
    if (manager) {
      manager->GetClientCertificate(type, client);
      manager->GetServerPemCertificate(type, server);
      manager->QueryClientCertificate(type, json);
    }
    lifecycle::RenewalState state;
    if (rows.GetRenewalState(type, state) == 0) {
      lifecycle::RecordFailure(state, 1700000000, "again", 1800000000);
      lifecycle::RenewalDue(1700000000, lifecycle::DueTime(0, 1800000000, std::nullopt), state);
    }
    lifecycle::PendingKey key;
    if (rows.GetPendingKey(type, key) == 0) lifecycle::KeyOf(key.key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Setting& setting = Once();
  fuzz::Input input(data, size);
  const bool withSettings = input.Byte() % 2 == 1;
  const std::string backup = Edited(setting.image, input);
  ozo::ref_ptr<host::SqliteStore> source;
  std::string error;
  if (backup.empty() || host::SqliteStore::OpenImage("backup", backup, source, error) != 0) return 0;
  host::SqliteStore& target = *setting.target;
  lifecycle::SqliteLifecycleStore rows(target);
  std::map<ivo::PeerType, lifecycle::RenewalConfig> own;
  rows.RenewalConfigs(own);
  std::vector<std::string> passedOver;
  std::vector<lifecycle::Settled> settled;
  if (target.BeginWork() != 0) std::abort();
  if (target.RestoreFrom(*source, passedOver, error) == 0 &&
      lifecycle::SettleImported(rows, withSettings, own, {}, settled) == 0)
    target.CommitWork();
  else
    target.RollbackWork();
  ReadBack(target);
  ERR_clear_error();
  return 0;
}
