#include "host/lifecycle/settings.h"

#include <openssl/err.h>

#include "host/lifecycle/ca.h"
#include "host/lifecycle/cmp_address.h"
#include "host/lifecycle/pending_key.h"
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
  const auto* der = reinterpret_cast<const unsigned char*>(config.sender.data());
  const ossl::UniquePtr<X509_NAME> sender(
      config.sender.empty() ? nullptr : d2i_X509_NAME(nullptr, &der, static_cast<long>(config.sender.size())));
  ERR_clear_error();
  if (!config.sender.empty() &&
      (!sender || der != reinterpret_cast<const unsigned char*>(config.sender.data()) + config.sender.size()))
    return "their expected sender is no name";
  return "";
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
