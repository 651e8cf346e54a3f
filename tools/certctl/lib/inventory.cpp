#include "tools/certctl/lib/inventory.h"

#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/output.h"

namespace certctl {
namespace {

// The slot's record judged alone; a failure of the host itself (not of the
// record) stops the inventory.
template <class Record>
std::optional<StoredCertificate> ReadSlot(host::ServiceHost& host, const host::Module& component,
                                          const TraceRoute& trace, ivo::PeerType type) {
  Record record;
  const ozo::result_t read = host.ReadRecord(type, record);
  if (read == ozo::results::NotFound) return std::nullopt;
  ThrowIfStoreFailed(dynamic_cast<host::SqliteStore*>(host.store()), read);
  if (ozo::Succeeded(read)) return JudgeRecord(component, trace, type, record);
  StoredCertificate unreadable(type);
  unreadable.client = std::is_same_v<Record, ivo::ClientCertificate>;
  // The component passes over a record it cannot read, unless the slot's
  // node holds something else than a record.
  unreadable.loadable = read == ozo::results::FileTooBig;
  unreadable.problem =
      read == ozo::results::FileTooBig
          ? "cannot be read: it holds a value larger than a store keeps (" + host::ResultText(read) + ")"
          : "cannot be read: the slot holds no " + std::string(unreadable.kind()) + " certificate record (" +
                host::ResultText(read) + ")";
  return unreadable;
}

}  // namespace

std::vector<StoredCertificate> ReadInventory(host::ServiceHost& host, const host::Module& component,
                                             const TraceRoute& trace) {
  std::vector<StoredCertificate> inventory;
  for (const ivo::PeerType type : ivo::PeerType::All())
    for (const bool client : {false, true})
      if (auto judged = JudgeSlot(host, component, trace, type, client)) inventory.push_back(std::move(*judged));
  return inventory;
}

std::optional<StoredCertificate> JudgeSlot(host::ServiceHost& host, const host::Module& component,
                                           const TraceRoute& trace, ivo::PeerType type, bool client) {
  return client ? ReadSlot<ivo::ClientCertificate>(host, component, trace, type)
                : ReadSlot<ivo::ServerCertificate>(host, component, trace, type);
}

std::vector<StoredCertificate> ReadInventory(Session& session) {
  return ReadInventory(session.host(), session.component(), session.trace());
}

PendingKeys ReadPendingKeys(Session& session) {
  std::map<ivo::PeerType, std::int64_t> created, kept;
  std::map<ivo::PeerType, std::string> madeBy;
  session.ThrowIfStoreFailed(session.store().pendingKeys().Values("created", created));
  session.ThrowIfStoreFailed(session.store().pendingKeys().Values("length(certificates)", kept));
  session.ThrowIfStoreFailed(session.store().pendingKeys().Values("made_by", madeBy));
  PendingKeys keys;
  for (const auto& [type, when] : created) keys[type] = {when, kept[type] > 0, madeBy[type]};
  return keys;
}

std::string PendingKeyHint(ivo::PeerType type, const PendingKeyFacts& facts) {
  const std::string install = std::string("certctl install ") + type.keyword();
  if (facts.certificateKept) return install + " tries the kept certificate again";
  // A key a CA exchange made waits for the next exchange, not for a file.
  if (facts.madeBy == "renew" || facts.madeBy == "enroll")
    return "certctl " + facts.madeBy + " " + type.keyword() + " asks the CA for its certificate again";
  return install + " FILE takes its certificate";
}

std::string UnloadableRecords(Session& session) {
  std::string sentence;
  for (const StoredCertificate& stored : ReadInventory(session))
    if (!stored.loadable)
      sentence += (sentence.empty() ? "the " : "; the ") + stored.slot() + " record " + stored.problem;
  return sentence.empty() ? "" : sentence + "; certctl repair removes what cannot be loaded";
}

}  // namespace certctl
