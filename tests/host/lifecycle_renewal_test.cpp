// The renewal's state machine, step by step: each step made to fail in turn
// (the store, the CA, its answer, the trial, the swap, the hook) leaves the
// slot, the pending key and the renewal state as the rules say.
#include <gtest/gtest.h>

#include <functional>

#include "host/lifecycle/renewal.h"
#include "host/lifecycle/schedule.h"
#include "ivo/certificate_type_table.h"
#include "tests/support/lifecycle_fixture.h"
#include "tests/support/manager_fixture.h"

namespace {

namespace lifecycle = host::lifecycle;
using lifecycle::RenewalStep;
using Answer = test::InProcessCa::Answer;

class Renewal : public test::LifecycleTest {
 public:  // the step table sets the seams' answers
  Renewal() {
    m_order.type = kType;
    m_order.overrides.server = "http://ca.test/";
    m_order.overrides.command = "cr";
    m_order.overrides.trial = lifecycle::TrialTarget{"peer.test:443", ""};
    m_order.overrides.hook = "deploy";
    m_order.initiator = test::User();
    m_enrollment.settings.server = "http://ca.test/";
    m_enrollment.settings.trialPeer = "peer.test:443";
    m_enrollment.initiator = test::User();
    m_with.now = [this] { return kNow; };
    m_with.trial = [this](ivo::PeerType, const ivo::ClientCertificate&, const lifecycle::TrialTarget& target,
                          const host::Deadline&) {
      m_tried.push_back(target.peer + "/" + target.servername);
      if (m_meanwhile) m_meanwhile();
      return m_trialRefusal.empty()
                 ? lifecycle::TrialResult{}
                 : lifecycle::TrialResult{lifecycle::TrialResult::Verdict::Refused, target.peer + " " + m_trialRefusal};
    };
    m_with.hook = [this](const lifecycle::HookRun& run, std::string& failure) {
      m_hooks.push_back(run.command + " " + run.variables.front().second);
      failure = m_hookFailure;
      return failure.empty() ? ozo::results::NoError : ozo::results::UnspecifiedError;
    };
  }

  // One run, as the timer or a person makes it: with no unit of work open.
  lifecycle::RenewalOutcome Run() { return lifecycle::RunRenewal(m_order, m_with); }
  lifecycle::RenewalOutcome Enroll() { return lifecycle::RunEnrollment(m_enrollment, m_with); }

  void LockSlot() { EXPECT_EQ(m_sqlite->locks().SetLocked(kType.ids().clientSetting, true), 0); }
  // Another run installs a pair for the pending key, which goes.
  void TakeKey() { EXPECT_EQ(m_sqlite->pendingKeys().Remove(kType), 0); }

  lifecycle::RenewalOrder m_order;
  lifecycle::EnrollmentOrder m_enrollment;
  lifecycle::RenewalDependencies m_with{*m_store, *m_manager, m_authority};
  std::string m_trialRefusal, m_hookFailure;  // what the trial and the hook say
  std::function<void()> m_meanwhile;          // what else happens during the trial
  std::vector<std::string> m_hooks;
  std::vector<std::string> m_tried;  // each trial's "PEER/SERVERNAME"
};

struct Step {
  const char* name;
  std::function<void(Renewal&, test::FaultyLifecycleStore&, test::InProcessCa&)> fail;
  RenewalStep step;
  bool renewed;         // the slot holds a new pair
  const char* pending;  // what stays pending: "", "key", "key+certificate"
  int failures;         // counted in the state
  const char* said;     // in the outcome's words
};

// The commits of a run: 1 the pending key, 2 the CA's answer, 3 the swap.
const Step kSteps[] = {
    {"Renews", [](auto&, auto&, auto&) {}, RenewalStep::Renewed, true, "", 0, ""},
    {"KeyNotKept", [](auto&, auto& store, auto&) { store.FailAt("PutPendingKey"); }, RenewalStep::StoreFailed, false,
     "", 0, ""},
    {"KeyNotCommitted", [](auto&, auto& store, auto&) { store.FailAt("Commit", 1); }, RenewalStep::StoreFailed, false,
     "", 0, ""},
    {"CaRefuses", [](auto&, auto&, auto& ca) { ca.answer = Answer::Refuse; }, RenewalStep::Failed, false, "key", 1,
     "the CA at http://ca.test/: request rejected"},
    {"AnswerForAnotherKey", [](auto&, auto&, auto& ca) { ca.answer = Answer::IssueForAnotherKey; }, RenewalStep::Failed,
     false, "key", 1, "not the pending key"},
    {"AnswerFromAnotherCa", [](auto&, auto&, auto& ca) { ca.answer = Answer::IssueFromAnotherCa; }, RenewalStep::Failed,
     false, "key", 1, "does not chain to the stored edr server certificate"},
    {"AnswerIsACaCertificate", [](auto&, auto&, auto& ca) { ca.answer = Answer::IssueCaCertificate; },
     RenewalStep::Failed, false, "key", 1, "it is a CA certificate"},
    {"AnswerNotKept", [](auto&, auto& store, auto&) { store.FailAt("PutPendingKey", 2); }, RenewalStep::StoreFailed,
     false, "key", 0, ""},
    {"TrialRefuses", [](auto& run, auto&, auto&) { run.m_trialRefusal = "refused the new pair"; }, RenewalStep::Failed,
     false, "key+certificate", 1, "peer.test:443 refused the new pair; the old pair stays"},
    {"SwapNotCommitted", [](auto&, auto& store, auto&) { store.FailAt("Commit", 3); }, RenewalStep::StoreFailed, false,
     "key+certificate", 0, ""},
    {"PendingKeyNotDropped", [](auto&, auto& store, auto&) { store.FailAt("RemovePendingKey"); },
     RenewalStep::StoreFailed, false, "key+certificate", 0, ""},
    {"KeyTakenDuringTheExchange", [](auto& run, auto&, auto& ca) { ca.meanwhile = [&run] { run.TakeKey(); }; },
     RenewalStep::Refused, false, "", 0, "pending key changed"},
    {"KeyTakenDuringTheTrial", [](auto& run, auto&, auto&) { run.m_meanwhile = [&run] { run.TakeKey(); }; },
     RenewalStep::Refused, false, "", 0, "pending key changed"},
    {"SlotLocked", [](auto& run, auto&, auto&) { run.LockSlot(); }, RenewalStep::Failed, false, "", 1,
     "the policy locks the edr client slot"},
    {"HookFails", [](auto& run, auto&, auto&) { run.m_hookFailure = "was killed by signal 9"; },
     RenewalStep::HookFailed, true, "", 0, "the hook was killed by signal 9"},
};

void PrintTo(const Step& step, std::ostream* out) { *out << step.name; }

class EachStep : public Renewal, public testing::WithParamInterface<Step> {};

TEST_P(EachStep, LeavesTheSlotTheKeyAndTheStateAsTheRulesSay) {
  const Step& step = GetParam();
  const std::string before = SlotSerial();
  step.fail(*this, *m_store, m_authority);
  const lifecycle::RenewalOutcome outcome = Run();
  EXPECT_EQ(outcome.step, step.step) << outcome.status.words();
  EXPECT_EQ(SlotSerial() != before, step.renewed);
  EXPECT_EQ(Pending(), step.pending);
  EXPECT_NE(outcome.status.words().find(step.said), std::string::npos) << outcome.status.words();
  const lifecycle::RenewalState state = State();
  EXPECT_EQ(state.failures, step.failures);
  EXPECT_EQ(state.lastSuccess == kNow, step.renewed);
  EXPECT_EQ(state.lastAttempt.has_value(), step.renewed || step.failures > 0);
  if (step.failures > 0) {
    EXPECT_EQ(state.nextAttempt, kNow + lifecycle::kHour);  // the first failure backs off an hour
    EXPECT_NE(state.lastError.find(step.said), std::string::npos);
  }
  if (step.renewed) {
    EXPECT_EQ(state.nextAttempt, outcome.due);
  }
  EXPECT_EQ(state.hookError.empty(), step.step != RenewalStep::HookFailed);
  EXPECT_EQ(m_hooks.size(), step.renewed ? 1u : 0u);  // no hook after a failure
  EXPECT_FALSE(m_sqlite->InWork()) << "a run leaves no unit of work open";
}

INSTANTIATE_TEST_SUITE_P(Renewal, EachStep, testing::ValuesIn(kSteps),
                         [](const testing::TestParamInfo<Step>& info) { return info.param.name; });

// Refused before anything: nothing is counted and nothing changes.
TEST_F(Renewal, AnEmptySlotAndOneWithoutAnchorsAreRefusedUntouched) {
  m_enrollment.type = kType;
  m_enrollment.subject = {{"CN", "edr.test"}};
  EXPECT_EQ(Enroll().refusal, lifecycle::RenewalRefusal::SlotHolds);
  m_order.type = m_enrollment.type = ivo::PeerType::From(2);  // sandbox: no pair, no anchor
  EXPECT_EQ(Run().refusal, lifecycle::RenewalRefusal::SlotEmpty);
  EXPECT_EQ(Enroll().refusal, lifecycle::RenewalRefusal::NoAnchors);
  m_order.overrides.command = "kurr";
  m_order.type = kType;
  EXPECT_EQ(Run().refusal, lifecycle::RenewalRefusal::BadRequest);
  m_order.overrides = {};  // nothing names a CA: the slot has no settings
  EXPECT_EQ(Run().refusal, lifecycle::RenewalRefusal::BadRequest);
  m_order.type.reset();  // as an order is made: for no type
  EXPECT_EQ(Run().status.words(), lifecycle::kNoPeerType);
  ASSERT_EQ(m_sqlite->BeginWork(), 0);
  m_order.type = kType;
  EXPECT_EQ(Run().refusal, lifecycle::RenewalRefusal::UnitOpen) << "a call opens its own units of work";
  m_sqlite->RollbackWork();
  EXPECT_EQ(m_authority.asked, 0);
  EXPECT_EQ(Pending(), "");
  EXPECT_FALSE(State().lastAttempt.has_value());
}

// A certificate kept pending by a refused trial is installed by the next run
// without asking the CA again, once the peer that refused it takes it:
// that peer, not the settings', is tried again, whoever runs it; a later
// good hook clears the failed one.
TEST_F(Renewal, TheNextRunTriesTheRefusingPeerAgainAndAGoodHookClearsAFailedOne) {
  m_trialRefusal = "not yet";
  m_order.overrides.trial->servername = "peer.example";
  ASSERT_EQ(Run().step, RenewalStep::Failed);
  lifecycle::RenewalConfig settings;
  settings.server = "http://ca.test/";
  settings.command = "cr";
  settings.trialPeer = "other.test:443";
  settings.hook = "deploy";
  ASSERT_EQ(m_sqlite->renewalConfigs().Put(kType, settings), 0);
  m_order.overrides = {};  // as the timer's run: the slot alone
  EXPECT_EQ(Run().step, RenewalStep::Failed) << "the same peer still refuses";
  EXPECT_EQ(m_tried, (std::vector<std::string>{"peer.test:443/peer.example", "peer.test:443/peer.example"}));
  m_trialRefusal.clear();
  m_hookFailure = "exited 3";
  const lifecycle::RenewalOutcome kept = Run();
  EXPECT_EQ(kept.step, RenewalStep::HookFailed);
  EXPECT_FALSE(kept.fromTheCa);
  EXPECT_EQ(m_authority.asked, 1);
  EXPECT_EQ(m_tried.size(), 3u);
  EXPECT_EQ(State().failures, 0);
  m_hookFailure.clear();
  EXPECT_EQ(Run().step, RenewalStep::Renewed);
  EXPECT_EQ(m_authority.asked, 2);
  EXPECT_EQ(m_tried.back(), "other.test:443/") << "with nothing kept pending, the settings' peer";
  EXPECT_EQ(State().hookError, "");
}

// An enrollment asks with the subject given and the secret, and a name
// OpenSSL refuses is refused before a key is kept.
TEST_F(Renewal, AnEnrollmentAsksForTheSubjectGivenAndRefusesOneThatCannotBeAsked) {
  ASSERT_EQ(m_manager->RemoveClientCertificate(kType, test::User()), 0);
  m_enrollment.type = kType;
  m_enrollment.subject = {{"C", "USA"}, {"CN", "x"}};
  const lifecycle::RenewalOutcome refused = Enroll();
  EXPECT_EQ(refused.refusal, lifecycle::RenewalRefusal::BadRequest);
  EXPECT_NE(refused.status.words().find("C=USA"), std::string::npos);
  EXPECT_EQ(Pending(), "");
  m_enrollment.subject = {{"CN", "enrolled.test"}};
  const lifecycle::RenewalOutcome enrolled = Enroll();
  EXPECT_EQ(enrolled.step, RenewalStep::Renewed);
  EXPECT_NE(SlotSerial(), "");
  // It keeps its CA and the rest as the slot's settings, for key updates.
  lifecycle::RenewalConfig kept;
  ASSERT_EQ(m_sqlite->renewalConfigs().Get(kType, kept), 0);
  EXPECT_TRUE(enrolled.tracked);
  EXPECT_EQ(kept.server, m_enrollment.settings.server);
  EXPECT_EQ(kept.trialPeer, m_enrollment.settings.trialPeer);
  EXPECT_EQ(kept.command, "kur");
}

// A failure says when the timer tries again, and only where something
// will: a slot without settings has no next attempt; one with settings is
// next tried when it is due, not when the backoff of a manual run ends.
TEST_F(Renewal, AFailureHasANextAttemptOnlyWhereTheTimerRetries) {
  m_authority.answer = Answer::Refuse;
  const lifecycle::RenewalOutcome untracked = Run();
  ASSERT_EQ(untracked.step, RenewalStep::Failed);
  EXPECT_FALSE(untracked.tracked);
  EXPECT_FALSE(untracked.nextAttempt);
  ASSERT_EQ(m_sqlite->renewalConfigs().Put(kType, lifecycle::Merged(std::nullopt, m_order.overrides)), 0);
  const lifecycle::RenewalOutcome tracked = Run();
  ASSERT_EQ(tracked.step, RenewalStep::Failed);
  EXPECT_TRUE(tracked.tracked);
  ASSERT_TRUE(tracked.nextAttempt);
  EXPECT_GT(*tracked.nextAttempt, *tracked.state.nextAttempt) << "the pair is not due for weeks";
}

// The kept settings rule a run that names only the slot: their --before
// sets when the new certificate is due; one the new lifetime cannot hold
// gives way to two thirds of it, never before it was issued, and says so.
TEST_F(Renewal, TheKeptSettingsRuleAndABeforeLongerThanTheNewLifetimeGivesWayToTwoThirds) {
  lifecycle::RenewalConfig settings = lifecycle::Merged(std::nullopt, m_order.overrides);
  settings.beforeDays = 10000;
  ASSERT_EQ(m_sqlite->renewalConfigs().Put(kType, settings), 0);
  m_order.overrides = {};
  const lifecycle::RenewalOutcome outcome = Run();
  ASSERT_EQ(outcome.step, RenewalStep::Renewed);
  EXPECT_TRUE(outcome.beforeTooLong);
  const lifecycle::Installation& pair = outcome.installation;
  EXPECT_EQ(outcome.due, lifecycle::DueTime(pair.notBefore, pair.notAfter, std::nullopt));
  m_order.overrides.beforeDays = 20;
  const lifecycle::RenewalOutcome overridden = Run();
  EXPECT_FALSE(overridden.beforeTooLong);
  EXPECT_EQ(overridden.due, overridden.installation.notAfter - 20 * lifecycle::kDay);
}

// Without a trial, what a refused trial kept goes in untried.
TEST_F(Renewal, WithoutATrialTheKeptCertificateGoesInUntried) {
  m_trialRefusal = "not yet";
  ASSERT_EQ(Run().step, RenewalStep::Failed);
  m_order.tryPair = false;
  EXPECT_EQ(Run().step, RenewalStep::Renewed);
  EXPECT_EQ(m_tried.size(), 1u);
}

// One call renews every slot with settings that is due, and tells of each
// that is not: the timer's run.
TEST_F(Renewal, RenewAllRunsTheSlotsThatAreDueAndTellsOfTheOthers) {
  lifecycle::RenewalConfig settings = lifecycle::Merged(std::nullopt, m_order.overrides);
  ASSERT_EQ(m_sqlite->renewalConfigs().Put(kType, settings), 0);
  StorePair(2);  // from a day ago for two days: due in 8 hours
  std::vector<lifecycle::SlotRun> runs;
  ASSERT_TRUE(lifecycle::RenewAll(m_with, true, 10, test::User(), runs).ok());
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_FALSE(runs[0].ran) << "not due yet";
  ASSERT_TRUE(runs[0].due);
  m_with.now = [&] { return *runs[0].due + 1; };
  std::vector<lifecycle::SlotRun> due;
  ASSERT_TRUE(lifecycle::RenewAll(m_with, true, 10, test::User(), due).ok());
  ASSERT_EQ(due.size(), 1u);
  EXPECT_TRUE(due[0].ran);
  EXPECT_EQ(due[0].outcome.step, RenewalStep::Renewed) << due[0].outcome.status.words();
}

// A dry run asks the CA and tries the current pair, says whether a
// renewal could go ahead, and changes nothing, whatever the CA answers.
TEST_F(Renewal, ADryRunSaysWhetherARenewalCouldGoAheadAndChangesNothing) {
  const std::string serial = SlotSerial();
  const lifecycle::RenewalOutcome ready = lifecycle::RehearseRenewal(m_order, m_with);
  EXPECT_EQ(ready.step, RenewalStep::Rehearsed);
  EXPECT_TRUE(ready.status.ok()) << ready.status.words();
  EXPECT_EQ(m_tried, std::vector<std::string>{"peer.test:443/"});
  m_authority.answer = Answer::Refuse;
  const lifecycle::RenewalOutcome refused = lifecycle::RehearseRenewal(m_order, m_with);
  EXPECT_EQ(refused.step, RenewalStep::Rehearsed);
  EXPECT_NE(refused.status.words().find("rejection"), std::string::npos) << refused.status.words();
  EXPECT_EQ(SlotSerial(), serial);
  EXPECT_EQ(Pending(), "");
  EXPECT_FALSE(State().lastAttempt);
  EXPECT_TRUE(m_hooks.empty());
}

}  // namespace
