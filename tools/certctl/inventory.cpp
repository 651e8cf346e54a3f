#include "tools/certctl/inventory.h"

#include "tools/certctl/errors.h"

namespace certctl {
namespace {

// A failure of the host itself (not of the record) stops the inventory.
void ThrowIfStoreFailed(host::ServiceHost& host, ozo::result_t result) {
  auto* store = dynamic_cast<host::SqliteStore*>(host.store());
  if (store && !store->FirstFailure().empty())
    throw Failure(kExitStore, "the store cannot be used: " + store->FirstFailure(), result);
}

template <class Record>
std::optional<StoredCertificate> Judge(host::ServiceHost& host, const host::Module& component, const TraceRoute& trace,
                                       ivo::CertificateType type) {
  Record record;
  const ozo::result_t read = host.ReadRecord(type, record);
  if (read == ozo::results::NotFound) return std::nullopt;
  ThrowIfStoreFailed(host, read);
  if (ozo::Succeeded(read)) return JudgeRecord(component, trace, type, record);
  StoredCertificate unreadable;
  unreadable.type = type;
  unreadable.client = std::is_same_v<Record, ivo::ClientCertificate>;
  // The component passes over a record it cannot read, unless the slot's
  // node holds something else than a record.
  unreadable.loadable = read == ozo::results::FileTooBig;
  unreadable.problem =
      read == ozo::results::FileTooBig
          ? "cannot be read: it holds a value larger than a store keeps (" + DescribeResult(read) + ")"
          : "cannot be read: the slot holds no " + std::string(unreadable.kind()) + " certificate record (" +
                DescribeResult(read) + ")";
  return unreadable;
}

}  // namespace

std::vector<StoredCertificate> ReadInventory(host::ServiceHost& host, const host::Module& component,
                                             const TraceRoute& trace) {
  std::vector<StoredCertificate> inventory;
  for (ivo::CertificateType type = 1; type <= 4; ++type)
    for (const bool client : {false, true})
      if (auto judged = JudgeSlot(host, component, trace, type, client)) inventory.push_back(std::move(*judged));
  return inventory;
}

std::optional<StoredCertificate> JudgeSlot(host::ServiceHost& host, const host::Module& component,
                                           const TraceRoute& trace, ivo::CertificateType type, bool client) {
  return client ? Judge<ivo::ClientCertificate>(host, component, trace, type)
                : Judge<ivo::ServerCertificate>(host, component, trace, type);
}

std::vector<StoredCertificate> ReadInventory(Session& session) {
  return ReadInventory(session.host(), session.component(), session.trace());
}

std::string UnloadableRecords(Session& session) {
  std::string sentence;
  for (const StoredCertificate& stored : ReadInventory(session))
    if (!stored.loadable)
      sentence += (sentence.empty() ? "the " : "; the ") + stored.slot() + " record " + stored.problem;
  return sentence.empty() ? "" : sentence + "; certctl repair removes what cannot be loaded";
}

std::int64_t DaysUntil(std::int64_t seconds, std::int64_t now) {
  const std::int64_t left = seconds - now;
  return left >= 0 ? left / 86400 : -((-left + 86399) / 86400);
}

}  // namespace certctl
