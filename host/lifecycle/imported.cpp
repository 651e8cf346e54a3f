#include "host/lifecycle/imported.h"

#include "host/lifecycle/pending_key.h"
#include "host/lifecycle/settings.h"
#include "host/storage/journal_records.h"

namespace host::lifecycle {
namespace {

namespace results = ozo::results;

// Settles one slot; see SettleImported.
class SlotSettling {
 public:
  SlotSettling(LifecycleStore& store, ivo::PeerType type, const ivo::ChangeInitiator& initiator,
               std::vector<Settled>& settled)
      : m_store(store), m_type(type), m_initiator(initiator), m_settled(settled) {}

  ozo::result_t Settings(bool withSettings, const RenewalConfig* kept) {
    RenewalConfig imported;
    const ozo::result_t read = m_store.GetRenewalConfig(m_type, imported);
    if (ozo::Failed(read) && read != results::NotFound) return read;
    ozo::result_t result = results::NoError;
    if (ozo::Succeeded(read) && withSettings) {
      if (std::string problem = SettingsProblem(imported); !problem.empty()) {
        result = m_store.RemoveRenewalConfig(m_type);
        return Done(result, {m_type, Settled::Kind::SettingsRefused, imported.server, "", problem},
                    "renewal settings not imported: " + problem);
      }
      return Done(result, {m_type, Settled::Kind::SettingsImported, imported.server, imported.hook, ""},
                  "renewal settings imported from " + imported.server +
                      (imported.hook.empty() ? "" : ", with the hook " + imported.hook));
    }
    if (withSettings) return results::NoError;
    if (ozo::Succeeded(read)) {
      result = m_store.RemoveRenewalConfig(m_type);
      result = Done(result, {m_type, Settled::Kind::SettingsDropped, imported.server, "", ""},
                    "renewal settings not imported");
    }
    if (ozo::Succeeded(result) && kept) {
      result = m_store.PutRenewalConfig(m_type, *kept);
      result = Done(result, {m_type, Settled::Kind::SettingsKept, kept->server, "", ""},
                    "the store's own renewal settings kept");
    }
    return result;
  }

  ozo::result_t State() {
    RenewalState state;
    const ozo::result_t read = m_store.GetRenewalState(m_type, state);
    if (read == results::NotFound) return results::NoError;
    if (ozo::Failed(read)) return read;
    const std::string problem = StateProblem(state);
    if (problem.empty()) return results::NoError;
    return Done(m_store.RemoveRenewalState(m_type), {m_type, Settled::Kind::StateRefused, "", "", problem},
                "renewal state not imported: " + problem);
  }

  ozo::result_t Pending() {
    PendingKey pending;
    const ozo::result_t read = m_store.GetPendingKey(m_type, pending);
    if (read == results::NotFound) return results::NoError;
    if (ozo::Failed(read)) return read;
    if (std::string problem = PendingKeyProblem(pending); !problem.empty())
      return Done(m_store.RemovePendingKey(m_type), {m_type, Settled::Kind::PendingKeyRefused, "", "", problem},
                  "pending key not imported: " + problem);
    if (pending.certificates.empty()) return results::NoError;
    return Done(KeepPendingCertificate(m_store, m_type, ""),
                {m_type, Settled::Kind::PendingCertificateDropped, "", "", ""}, "the pending certificate dropped");
  }

 private:
  // Journals and lists what `result` did, when it did it.
  ozo::result_t Done(ozo::result_t result, Settled settled, const std::string& detail) {
    if (ozo::Failed(result)) return result;
    m_settled.push_back(std::move(settled));
    return m_store.Journal(OperationRecord("restore", ClientSlot(m_type), detail, m_initiator));
  }

  LifecycleStore& m_store;
  const ivo::PeerType m_type;
  const ivo::ChangeInitiator& m_initiator;
  std::vector<Settled>& m_settled;
};

}  // namespace

ozo::result_t SettleImported(LifecycleStore& store, bool withSettings,
                             const std::map<ivo::PeerType, RenewalConfig>& kept, const ivo::ChangeInitiator& initiator,
                             std::vector<Settled>& settled) {
  ozo::result_t result = results::NoError;
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    SlotSettling slot(store, type, initiator, settled);
    const auto own = kept.find(type);
    if (ozo::Succeeded(result)) result = slot.Settings(withSettings, own == kept.end() ? nullptr : &own->second);
    if (ozo::Succeeded(result)) result = slot.State();
    if (ozo::Succeeded(result)) result = slot.Pending();
  }
  return result;
}

}  // namespace host::lifecycle
