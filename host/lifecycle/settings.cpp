#include "host/lifecycle/settings.h"

#include <openssl/err.h>

#include <functional>

#include "host/lifecycle/ca.h"
#include "host/lifecycle/cmp_address.h"
#include "host/lifecycle/pending_key.h"
#include "host/lifecycle/trust.h"
#include "host/storage/journal_records.h"
#include "host/tls/peer_address.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"

namespace host::lifecycle {
namespace {

// 9999-12-31T23:59:59Z: the last moment a certificate can name.
constexpr std::int64_t kLastMoment = 253402300799;

bool InRange(const std::optional<std::int64_t>& time) { return !time || (*time >= 0 && *time <= kLastMoment); }

}  // namespace

std::string SettingsProblem(const RenewalConfig& config) {
  CaRequest::Kind kind;
  if (!RequestKindOf(config.command, kind) || kind == CaRequest::Kind::Initialization)
    return "they ask for a request '" + config.command + "', which is none of kur and cr";
  CmpAddress address;
  if (std::string problem; ozo::Failed(ReadCmpAddress(config.server, address, problem)))
    return "their CA's address " + config.server + " " + problem;
  if (config.beforeDays && (*config.beforeDays < 0 || *config.beforeDays > kMaxBeforeDays))
    return "their --before of " + std::to_string(*config.beforeDays) + " days is out of range";
  if (std::string problem; !config.trusted.empty() && (ossl::ReadAnchorFile(config.trusted, problem), !problem.empty()))
    return "their trust anchors are not certificates only: the file " + problem;
  tls::PeerAddress peer;
  if (std::string problem; !config.trialPeer.empty() && !tls::ReadPeerAddress(config.trialPeer, peer, problem))
    return "their trial's peer is none: " + problem;
  const auto* der = reinterpret_cast<const unsigned char*>(config.sender.data());
  const ossl::UniquePtr<X509_NAME> sender(
      config.sender.empty() ? nullptr : d2i_X509_NAME(nullptr, &der, static_cast<long>(config.sender.size())));
  ERR_clear_error();
  if (!config.sender.empty() &&
      (!sender || der != reinterpret_cast<const unsigned char*>(config.sender.data()) + config.sender.size()))
    return "their expected sender is no name";
  return "";
}

RenewalConfig Merged(const std::optional<RenewalConfig>& kept, const Overrides& overrides) {
  RenewalConfig config = kept.value_or(RenewalConfig());
  if (overrides.server) config.server = *overrides.server;
  if (overrides.command) config.command = *overrides.command;
  if (overrides.trusted) config.trusted = *overrides.trusted;
  if (overrides.sender) config.sender = *overrides.sender;
  if (overrides.trial) config.trialPeer = overrides.trial->peer, config.trialServername = overrides.trial->servername;
  if (overrides.hook) config.hook = *overrides.hook;
  if (overrides.beforeDays) config.beforeDays = overrides.beforeDays;
  return config;
}

namespace {

// Why `config` cannot be `type`'s settings in `manager`'s store, as a
// refusal; success when it can be.
Status Refusal(ivo::ICertificatesManager& manager, ivo::PeerType type, const RenewalConfig& config) {
  if (config.server.empty()) return Status(ozo::results::InvalidArgument, "no CA is named (its CMP address)");
  if (std::string problem = SettingsProblem(config); !problem.empty())
    return Status(ozo::results::InvalidArgument, "the settings cannot work: " + problem);
  const TrustAnchors anchors = SlotAnchors(manager, type, config.trusted, "the certificates kept with the settings");
  if (std::string problem = AnchorsProblem(anchors); !problem.empty())
    return Status(ozo::results::InvalidState, problem);
  ivo::ClientCertificate record;
  ossl::Container pair;
  if (config.beforeDays && ozo::Succeeded(manager.GetClientCertificate(type, record)) &&
      ossl::OpenContainer(ossl::View(record.certificate), record.password.c_str(), pair) ==
          ossl::ContainerProblem::None) {
    const std::int64_t from = ossl::SecondsOf(X509_get0_notBefore(pair.certificate.get())).value_or(0);
    const std::int64_t to = ossl::SecondsOf(X509_get0_notAfter(pair.certificate.get())).value_or(0);
    if (to > from && !BeforeFits(from, to, config.beforeDays))
      return Status(ozo::results::InvalidArgument,
                    std::to_string(*config.beforeDays) + " days before the end is not within the " + type.keyword() +
                        " client certificate's lifetime of " + std::to_string((to - from) / kDay) +
                        " days: it would be due before it was issued");
  }
  return {};
}

// Runs `change` in a unit of work of its own and journals `detail` as an
// operation "renew-config" on `type`'s client slot.
Status InUnit(LifecycleStore& store, ivo::PeerType type, const ivo::ChangeInitiator& initiator,
              const std::string& detail, const std::function<ozo::result_t()>& change) {
  if (Status open = NoUnitOpen(store); !open.ok()) return open;
  ozo::result_t result = store.Begin();
  const ozo::result_t changed = ozo::Succeeded(result) ? change() : result;
  if (changed == ozo::results::NotFound) {
    store.Rollback();
    return Status(ozo::results::False, "the " + ClientSlot(type) + " slot has no renewal settings");
  }
  result = changed;
  if (ozo::Succeeded(result))
    result = store.Journal(OperationRecord("renew-config", ClientSlot(type), detail, initiator));
  if (ozo::Succeeded(result)) result = store.Commit();
  if (ozo::Failed(result)) {
    const Status failed = StoreFailure(store, result);
    store.Rollback();
    return failed;
  }
  return {};
}

}  // namespace

Status KeepRenewalSettings(LifecycleStore& store, ivo::ICertificatesManager& manager, ivo::PeerType type,
                           const RenewalConfig& config, const ivo::ChangeInitiator& initiator) {
  if (Status refused = Refusal(manager, type, config); !refused.ok()) return refused;
  return InUnit(store, type, initiator, "settings kept: " + config.server,
                [&] { return store.PutRenewalConfig(type, config); });
}

Status RemoveRenewalSettings(LifecycleStore& store, ivo::PeerType type, const ivo::ChangeInitiator& initiator) {
  return InUnit(store, type, initiator, "settings removed", [&] { return store.RemoveRenewalConfig(type); });
}

std::string StateProblem(const RenewalState& state) {
  if (state.failures < 0 || state.failures > kMaxFailures)
    return "its count of " + std::to_string(state.failures) + " failures is out of range";
  if (!InRange(state.lastAttempt) || !InRange(state.lastSuccess) || !InRange(state.nextAttempt))
    return "it names a time before 1970 or after 9999";
  return "";
}

std::string PendingKeyProblem(const PendingKey& pending) {
  const bool readable = KeyOf(pending.key) != nullptr;
  ERR_clear_error();
  if (!readable) return "its key cannot be read";
  if (!InRange(pending.created)) return "it was made before 1970 or after 9999";
  return "";
}

}  // namespace host::lifecycle
