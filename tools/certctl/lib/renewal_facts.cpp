#include "tools/certctl/lib/renewal_facts.h"

#include <map>
#include <set>

#include "host/lifecycle/schedule.h"

namespace certctl {

std::vector<RenewalFacts> ReadRenewalFacts(Session& session, const std::vector<StoredCertificate>& inventory) {
  std::map<ivo::PeerType, host::lifecycle::RenewalConfig> configs;
  std::map<ivo::PeerType, host::lifecycle::RenewalState> states;
  session.ThrowIfStoreFailed(session.store().renewalConfigs().All(configs));
  session.ThrowIfStoreFailed(session.store().renewalStates().All(states));
  // The types the store holds settings or a state of, whichever they are.
  std::set<ivo::PeerType> types;
  for (const auto& each : configs) types.insert(each.first);
  for (const auto& each : states) types.insert(each.first);
  std::vector<RenewalFacts> facts;
  for (const ivo::PeerType type : types) {
    RenewalFacts fact(type);
    if (configs.count(type)) fact.config = configs[type];
    if ((fact.attempted = states.count(type) != 0)) fact.state = states[type];
    for (const StoredCertificate& stored : inventory)
      if (stored.client && stored.type == type && stored.problem.empty()) {
        fact.notAfter = stored.notAfterSeconds;
        fact.due = host::lifecycle::DueTime(stored.notBeforeSeconds, stored.notAfterSeconds,
                                            fact.config ? fact.config->beforeDays : std::nullopt);
      }
    if (fact.config && fact.due) fact.nextAttempt = host::lifecycle::NextAttempt(*fact.due, fact.state);
    facts.push_back(std::move(fact));
  }
  return facts;
}

}  // namespace certctl
