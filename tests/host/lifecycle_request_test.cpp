// A slot's request and installation by hand: which key a request is for,
// what it asks, and which signed certificate its installation takes.
#include <gtest/gtest.h>

#include "host/lifecycle/install.h"
#include "host/lifecycle/pending_key.h"
#include "host/lifecycle/schedule.h"
#include "host/lifecycle/trust.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"
#include "tests/support/lifecycle_fixture.h"
#include "tests/support/manager_fixture.h"

namespace {

namespace lifecycle = host::lifecycle;
namespace results = ozo::results;

class Request : public test::LifecycleTest {
 protected:
  // A request for the slot; the order's fields as the test sets them.
  lifecycle::KeyRequest Ask(lifecycle::KeyOrder order) {
    order.type = kType;
    order.initiator = test::User();
    lifecycle::KeyRequest request;
    const host::Status made = lifecycle::RequestKey(*m_store, *m_manager, order, request);
    EXPECT_TRUE(made.ok()) << made.words();
    return request;
  }
  lifecycle::PendingKey Kept() {
    lifecycle::PendingKey pending;
    EXPECT_EQ(m_sqlite->pendingKeys().Get(kType, pending), 0);
    return pending;
  }
  lifecycle::RequestSubject AskedOf(const lifecycle::PendingKey& pending) {
    lifecycle::RequestSubject subject;
    EXPECT_TRUE(lifecycle::SubjectOfDer(pending.subject, pending.extensions, subject));
    return subject;
  }
};

TEST_F(Request, TheKeyStaysUntilANewOneIsAskedForAndTheLastNamesAreAsked) {
  lifecycle::KeyOrder order;
  order.alternativeNames = std::vector<std::string>{"DNS:first.test"};
  const lifecycle::KeyRequest first = Ask(order);
  const std::vector<unsigned char> firstKey = Kept().key;
  EXPECT_FALSE(first.reused);

  order.alternativeNames = std::vector<std::string>{"DNS:second.test"};
  const lifecycle::KeyRequest again = Ask(order);
  EXPECT_TRUE(again.reused);
  EXPECT_EQ(Kept().key, firstKey);
  EXPECT_EQ(AskedOf(Kept()).alternativeNames, std::vector<std::string>{"DNS:second.test"}) << "replaced, not added";

  Ask({});
  EXPECT_EQ(AskedOf(Kept()).alternativeNames, std::vector<std::string>{"DNS:second.test"}) << "asked as before";

  lifecycle::KeyOrder renewed;
  renewed.newKey = true;
  const lifecycle::KeyRequest fresh = Ask(renewed);
  EXPECT_FALSE(fresh.reused);
  EXPECT_NE(Kept().key, firstKey);
  EXPECT_NE(fresh.keyText, first.keyText);
}

TEST_F(Request, AnInstallationTakesOnlyACertificateForThePendingKeyThatCanSign) {
  Ask({});
  const ossl::UniquePtr<EVP_PKEY> key = lifecycle::KeyOf(Kept().key);
  ASSERT_TRUE(key);
  const ossl::UniquePtr<EVP_PKEY> other = test::NewTestKey();
  struct Row {
    const char* name;
    std::string file;
    ozo::result_t expected;
    const char* error;
  } const rows[] = {
      {"another key", m_ca.Issue(other.get(), "agent.test", kNow - 60, 30), results::NotMatched, "not the pending key"},
      {"no signature",
       ossl::PemOf(
           {m_ca.IssueCertificate(key.get(), "agent.test", kNow - 60, 30, false, {"critical,keyEncipherment"}).get()}),
       results::InvalidArgument, "does not allow a signature"},
      {"for servers",
       ossl::PemOf(
           {m_ca.IssueCertificate(key.get(), "agent.test", kNow - 60, 30, false, {nullptr, "serverAuth"}).get()}),
       results::InvalidArgument, "lacks clientAuth"},
      {"not yet valid", m_ca.Issue(key.get(), "agent.test", kNow + 3600, 30), results::CertificateOutOfValidityPeriod,
       "3600 s after this host's clock"},
      {"a good one", m_ca.Issue(key.get(), "agent.test", kNow - 60, 30), results::NoError, ""},
  };
  lifecycle::TrustAnchors anchors;
  anchors.certificates = ossl::ReadCertificates(m_ca.Pem());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    lifecycle::Installation installation;
    std::string error;
    EXPECT_EQ(lifecycle::PrepareInstallation(*m_store, kType, row.file, anchors, kNow, installation, error),
              row.expected);
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
  }
}

// The slot's anchors are the CA certificates it holds: a stored server
// certificate that cannot sign (a pinned peer's) gives way to the CA
// certificates of the slot's container.
TEST_F(Request, APinnedServerCertificateGivesWayToTheContainersCa) {
  const ossl::UniquePtr<EVP_PKEY> key = test::NewTestKey();
  const std::string pinned = m_ca.Issue(key.get(), "peer.test", kNow - 60, 30);
  ASSERT_EQ(m_manager->SetServerCertificate(kType, ivo::ServerCertificate{ozo::blob_t(pinned.data(), pinned.size())},
                                            test::User()),
            0);
  const ossl::UniquePtr<X509> agent = m_ca.IssueCertificate(key.get(), "agent.test", kNow - 60, 30);
  const std::string container = ossl::MakeContainer(key.get(), agent.get(), {m_ca.certificate()}, "s3cret");
  ASSERT_EQ(m_manager->SetClientCertificate(
                kType, ivo::ClientCertificate(ozo::blob_t(container.data(), container.size()), "s3cret"), test::User()),
            0);
  const lifecycle::TrustAnchors anchors = lifecycle::SlotAnchors(*m_manager, kType, "", "--trusted");
  EXPECT_EQ(anchors.origin, "the CA certificates of the edr client container");
  EXPECT_EQ(lifecycle::AnchorsProblem(anchors), "");
}

// An installation by hand into a slot that renews on its own is one of its
// renewals: tried against the settings' peer, followed by their hook, and a
// success that clears the failures and the backoff.
TEST_F(Request, AnInstallationByHandIsARenewalOfASlotWithSettings) {
  lifecycle::RenewalState failing;
  lifecycle::RecordFailure(failing, kNow - 60, "the CA said no", kNow + 30 * 86400);
  ASSERT_EQ(m_sqlite->renewalStates().Put(kType, failing), 0);
  lifecycle::RenewalConfig settings;
  settings.server = "http://ca.test/";
  settings.trialPeer = "peer.test:443";
  settings.hook = "deploy";
  ASSERT_EQ(m_sqlite->renewalConfigs().Put(kType, settings), 0);
  Ask({});
  const ossl::UniquePtr<EVP_PKEY> key = lifecycle::KeyOf(Kept().key);
  lifecycle::InstallOrder order;
  order.type = kType;
  order.signedFile = m_ca.Issue(key.get(), "agent.test", kNow - 60, 30) + m_ca.Pem();
  order.initiator = test::User();
  lifecycle::RenewalDependencies with(*m_store, *m_manager, m_authority);
  with.now = [this] { return kNow; };
  std::vector<std::string> done;
  with.trial = [&](ivo::PeerType, const ivo::ClientCertificate&, const lifecycle::TrialTarget& target,
                   const host::Deadline&) {
    done.push_back("trial " + target.peer);
    return lifecycle::TrialResult{};
  };
  with.hook = [&](const lifecycle::HookRun& run, std::string&) {
    done.push_back("hook " + run.command);
    return ozo::results::NoError;
  };
  const lifecycle::InstallOutcome outcome = lifecycle::Install(order, with);
  ASSERT_TRUE(outcome.status.ok()) << outcome.status.words();
  EXPECT_EQ(done, (std::vector<std::string>{"trial peer.test:443", "hook deploy"}));
  const lifecycle::RenewalState state = State();
  EXPECT_EQ(state.failures, 0);
  EXPECT_EQ(state.lastSuccess, kNow);
  EXPECT_EQ(state.nextAttempt, lifecycle::DueTime(outcome.installation.notBefore, outcome.installation.notAfter, {}));
  EXPECT_TRUE(state.lastError.empty());
}

}  // namespace
