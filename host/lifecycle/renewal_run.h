// One run of a renewal or an enrollment, step by step: the machinery
// behind RunRenewal, RehearseRenewal and RunEnrollment (renewal.h), which are
// its only users. Its contract is theirs.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "host/lifecycle/records.h"
#include "host/lifecycle/renewal.h"
#include "host/lifecycle/trust.h"
#include "host/net/deadline.h"
#include "ossl/holders.h"
#include "ossl/pkcs12.h"

namespace host::lifecycle::detail {

using ossl::UniquePtr;
using ozo::result_t;
namespace results = ozo::results;

// What one run works for, a renewal's or an enrollment's, in one shape.
struct Plan {
  explicit Plan(ivo::PeerType type) : type(type) {}
  ivo::PeerType type;
  const Overrides* overrides = nullptr;         // a renewal's, over the kept settings
  const EnrollmentOrder* enrollment = nullptr;  // an enrollment's
  bool tryPair = true;
  bool rehearse = false;  // a dry run: nothing is written
  double timeoutSeconds = 30;
  ivo::ChangeInitiator initiator;
  bool enroll() const { return enrollment != nullptr; }
};

// A run of one plan: the slot's pair and state as it goes, and what it has
// come to. Each step returns false once the run has ended.
class Renewal {
 public:
  Renewal(const Plan& plan, RenewalDependencies& with)
      : m_plan(plan),
        m_type(plan.type),
        m_with(with),
        m_store(with.store),
        m_keyword(plan.type.keyword()),
        m_deadline(plan.timeoutSeconds),
        m_now(Now()) {}

  RenewalOutcome Run();

 private:
  bool ReadSlot();
  bool Settle();
  bool AskTheCa();
  bool Prepare();
  bool TryAgainstThePeer();
  bool Install();
  void RunHook();
  void Rehearse();

  // A request to the CA as the settings have it, under the current pair
  // (or the one-time secret), its expected sender held in `sender`.
  CaRequest RequestOf(CaRequest::Kind kind, UniquePtr<X509_NAME>& sender);
  // The CA's words after its address, said once.
  std::string CaWords(const std::string& error) const;

  // Ends the run before anything changed: nothing is counted.
  bool Refuse(RenewalRefusal refusal, result_t result, const std::string& words);
  // Ends the run on a failure of the store, with its words.
  bool StoreFailed(result_t result);
  // Whether the slot's pending key is still the one this run works for
  // (m_keyPrint); ends the run (KeyChanged) when another run replaced or
  // installed it meanwhile. Within a unit of work.
  bool KeyStillOurs();
  // Counts a failure in a unit of work of its own, journals it, ends the run.
  bool Fail(const std::string& words, result_t result = results::UnspecifiedError);
  result_t Journal(const std::string& detail);
  // The clock when asked: each check of what arrives reads it anew.
  std::int64_t Now() const { return m_with.now ? m_with.now() : std::time(nullptr); }

  const Plan& m_plan;
  const ivo::PeerType m_type;
  RenewalDependencies& m_with;
  LifecycleStore& m_store;
  const std::string m_keyword;
  const Deadline m_deadline;              // the run's network work: the CA's exchange, then the trial
  const std::int64_t m_now;               // when the run began: what its state records
  ivo::ClientCertificate m_record;        // the slot's pair as stored; empty for an enrollment
  ossl::Container m_current;              // the slot's pair, opened; empty for an enrollment
  std::int64_t m_notAfter = 0;            // its end: the latest a retry may wait for
  std::optional<RenewalConfig> m_stored;  // the slot's renewal settings, when it has some
  RenewalConfig m_config;                 // what this run goes by: the kept settings and the order's
  std::string m_trustedOrigin;            // what m_config.trusted is
  TrustAnchors m_anchors;                 // what the CA's answers and the new certificate must chain to
  TrialTarget m_trial;                    // the peer the new pair is tried against (ChooseTrial)
  std::string m_keyPrint;                 // the pending key this run works for (KeyPrint)
  CaRequest::Kind m_kind = CaRequest::Kind::KeyUpdate;
  RenewalOutcome m_outcome;
};

}  // namespace host::lifecycle::detail
