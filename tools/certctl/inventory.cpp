#include "tools/certctl/inventory.h"

#include <ctime>
#include <filesystem>

#include "tools/certctl/errors.h"
#include "tools/certctl/output.h"

namespace certctl {
namespace {

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SSZ"; false when it is not one.
bool SecondsOf(const std::string& iso, std::int64_t& seconds) {
  std::tm time{};
  const char* end = strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%SZ", &time);
  if (!end || *end) return false;
  seconds = static_cast<std::int64_t>(timegm(&time));
  return true;
}

// The manager's JSON document of one certificate, taken apart.
void Describe(const char* document, StoredCertificate& entry) {
  const Json parsed = Json::parse(document, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    entry.problem = "the manager's description cannot be read";
    return;
  }
  entry.subject = parsed.value("Subject", "");
  entry.issuer = parsed.value("Issuer", "");
  entry.serial = parsed.value("SerialNumber", "");
  entry.notBefore = parsed.value("IssuingDate", "");
  entry.notAfter = parsed.value("ExpirationDate", "");
  if (!SecondsOf(entry.notBefore, entry.notBeforeSeconds) || !SecondsOf(entry.notAfter, entry.notAfterSeconds))
    entry.problem = "the manager's dates cannot be read";
}

}  // namespace

std::vector<StoredCertificate> ReadInventory(const Options& options, std::vector<ivo::CertificateEvent>* events) {
  Session session(options, false);
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
  const ozo::result_t created = session.CreateManager(manager);
  if (ozo::Failed(created)) {
    session.ThrowIfStoreFailed(created);
    throw Failure(kExitFailed, "cannot create the certificates manager: " + DescribeResult(created), created);
  }
  std::vector<StoredCertificate> inventory;
  for (ivo::CertificateType type = 1; type <= 4; ++type) {
    for (const bool client : {false, true}) {
      ozo::string8_t document;
      const ozo::result_t result =
          client ? manager->QueryClientCertificate(type, document) : manager->QueryServerCertificate(type, document);
      session.ThrowIfStoreFailed(result);  // any other failure is the record's, not the store's
      if (result == ozo::results::False) continue;
      StoredCertificate entry;
      entry.type = type;
      entry.client = client;
      if (result == ozo::results::NoError)
        Describe(document.c_str(), entry);
      else
        entry.problem = "cannot be decoded: " + DescribeResult(result);
      inventory.push_back(std::move(entry));
    }
  }
  if (events) {
    const ozo::result_t read = session.store().Events(*events);
    if (ozo::Failed(read))
      throw Failure(kExitStore, "the store cannot be used: cannot read the events: " + session.StoreFailure(), read);
  }
  return inventory;
}

void RequireStore(const Options& options) {
  const std::string path = Session::StorePath(options.store);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw Failure(kExitStore, "no store at " + path);
}

std::int64_t DaysUntil(std::int64_t seconds, std::int64_t now) {
  const std::int64_t left = seconds - now;
  return left >= 0 ? left / 86400 : -((-left + 86399) / 86400);
}

}  // namespace certctl
