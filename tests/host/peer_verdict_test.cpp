// The probe's verdict as pure functions: which revocation evidence stands,
// what an OCSP answer proves, and what state a probe's facts come to. Each
// table row is one rule; breaking the rule fails the row.
#include "host/monitoring/peer_verdict.h"

#include <gtest/gtest.h>
#include <openssl/ocsp.h>

#include <ctime>
#include <functional>
#include <optional>

#include "host/revocation/revocation.h"
#include "ossl/text.h"
#include "tests/support/lifecycle_fixture.h"

namespace {

using host::monitoring::State;
using host::revocation::CertificateRevocation;
using host::revocation::RevocationStatus;
using ossl::UniquePtr;

const std::int64_t kNow = std::time(nullptr);
constexpr std::int64_t kDay = 86400;

CertificateRevocation Found(std::optional<RevocationStatus> status, const char* source = "") {
  CertificateRevocation found;
  found.status = status;
  found.source = source;
  found.subject = "CN=x";
  if (status == RevocationStatus::Unknown) found.problem = "no CRL of its issuer";
  return found;
}

constexpr auto kGood = RevocationStatus::Good;
constexpr auto kRevoked = RevocationStatus::Revoked;
constexpr auto kUnknown = RevocationStatus::Unknown;
constexpr auto kNotCheckable = RevocationStatus::NotCheckable;

TEST(RevocationEvidence, ARevocationOutranksAGoodAnswerWhichOutranksAnUnknownOne) {
  struct Row {
    std::optional<RevocationStatus> kept, other, stands;
  } const rows[] = {
      {std::nullopt, kUnknown, kUnknown}, {kUnknown, kGood, kGood},
      {kGood, kRevoked, kRevoked},        {kRevoked, kGood, kRevoked},
      {kRevoked, kUnknown, kRevoked},     {kGood, kUnknown, kGood},
      {kGood, std::nullopt, kGood},       {kNotCheckable, kUnknown, kUnknown},
      {kNotCheckable, kGood, kGood},      {kUnknown, kNotCheckable, kUnknown},
  };
  for (const Row& row : rows) {
    CertificateRevocation kept = Found(row.kept, "kept");
    host::revocation::Merge(kept, Found(row.other, "other"));
    EXPECT_EQ(kept.status, row.stands);
  }
  CertificateRevocation first = Found(kUnknown, "first");
  host::revocation::Merge(first, Found(kUnknown, "second"));
  EXPECT_EQ(first.source, "first") << "the first unknown stays";
}

TEST(RevocationEvidence, TheChainIsRevokedByAnyCertificateElseItIsWhatItsLeafIs) {
  struct Row {
    std::vector<std::optional<RevocationStatus>> statuses;
    std::optional<RevocationStatus> chain;
    bool allGood;
  } const rows[] = {
      {{}, std::nullopt, true},
      {{std::nullopt, std::nullopt}, std::nullopt, true},
      {{kGood, std::nullopt}, kGood, true},
      {{kGood, kUnknown}, kGood, false},  // an intermediate that cannot be judged pages no one
      {{kGood, kNotCheckable}, kGood, false},
      {{kNotCheckable, kGood}, kNotCheckable, false},
      {{kUnknown, kGood}, kUnknown, false},
      {{kRevoked, kUnknown}, kRevoked, false},  // a level that could not be checked hides no revocation
      {{kUnknown, kRevoked}, kRevoked, false},
      {{kGood, kRevoked}, kRevoked, false},
  };
  for (const Row& row : rows) {
    host::revocation::RevocationResult result;
    for (const auto& status : row.statuses) result.certificates.push_back(Found(status));
    EXPECT_EQ(host::revocation::ChainStatus(result), row.chain);
    EXPECT_EQ(host::revocation::AllGood(result), row.allGood);
  }
}

// An OCSP answer about `leaf`, signed by `signer`.
struct Answer {
  int status = V_OCSP_CERTSTATUS_GOOD;
  std::int64_t thisUpdate = kNow - 3600;
  std::optional<std::int64_t> nextUpdate = kNow + kDay;
  enum { NoNonce, SameNonce, OtherNonce } nonce = NoNonce;
};

std::string Respond(const Answer& answer, X509* leaf, const test::TestCa& issuer, const test::TestCa& signer,
                    OCSP_REQUEST* request) {
  const UniquePtr<OCSP_BASICRESP> basic(OCSP_BASICRESP_new());
  const UniquePtr<OCSP_CERTID> id(OCSP_cert_to_id(nullptr, leaf, issuer.certificate()));
  const UniquePtr<ASN1_STRING> made(ASN1_TIME_set(nullptr, static_cast<time_t>(answer.thisUpdate)));
  const UniquePtr<ASN1_STRING> next(answer.nextUpdate ? ASN1_TIME_set(nullptr, static_cast<time_t>(*answer.nextUpdate))
                                                      : nullptr);
  const bool revoked = answer.status == V_OCSP_CERTSTATUS_REVOKED;
  EXPECT_TRUE(OCSP_basic_add1_status(basic.get(), id.get(), answer.status,
                                     revoked ? OCSP_REVOKED_STATUS_KEYCOMPROMISE : 0, revoked ? made.get() : nullptr,
                                     made.get(), next.get()));
  if (answer.nonce == Answer::SameNonce) OCSP_copy_nonce(basic.get(), request);
  if (answer.nonce == Answer::OtherNonce) OCSP_basic_add1_nonce(basic.get(), nullptr, -1);
  EXPECT_TRUE(OCSP_basic_sign(basic.get(), signer.certificate(), signer.key(), EVP_sha256(), nullptr, 0));
  const UniquePtr<OCSP_RESPONSE> response(OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, basic.get()));
  return ossl::DerOf(response.get(), i2d_OCSP_RESPONSE);
}

TEST(OcspAnswer, IsEvidenceOnlyWhenSignedCurrentAboutThisCertificateAndForThisRequest) {
  const test::TestCa ca("Probe CA"), stranger("Stranger CA");
  const UniquePtr<EVP_PKEY> key = test::NewTestKey();
  const UniquePtr<X509> leaf = ca.IssueCertificate(key.get(), "peer.test", kNow - 10 * kDay, 30);
  const std::int64_t week = 7 * kDay;
  struct Row {
    const char* name;
    Answer answer;
    std::optional<RevocationStatus> status;
    const char* problem;  // part of it
    bool signedByStranger = false;
  } const rows[] = {
      {"good", {}, kGood, ""},
      {"revoked", {V_OCSP_CERTSTATUS_REVOKED}, kRevoked, ""},
      {"unknown to the responder", {V_OCSP_CERTSTATUS_UNKNOWN}, kUnknown, "does not know it"},
      {"past its next update", {V_OCSP_CERTSTATUS_GOOD, kNow - 3 * kDay, kNow - kDay}, kUnknown, "stale"},
      {"made in the future", {V_OCSP_CERTSTATUS_GOOD, kNow + kDay, kNow + 2 * kDay}, kUnknown, "not yet valid"},
      {"no next update, older than the limit",
       {V_OCSP_CERTSTATUS_GOOD, kNow - week - 3600, std::nullopt},
       kUnknown,
       "older than 7 days"},
      {"no next update, within the limit", {V_OCSP_CERTSTATUS_GOOD, kNow - week + 3600, std::nullopt}, kGood, ""},
      {"made before the certificate was issued",
       {V_OCSP_CERTSTATUS_GOOD, kNow - 11 * kDay, kNow + kDay},
       kUnknown,
       "before the certificate was issued"},
      {"another request's nonce",
       {V_OCSP_CERTSTATUS_REVOKED, kNow - 3600, kNow + kDay, Answer::OtherNonce},
       kUnknown,
       "nonce differs"},
      {"this request's nonce", {V_OCSP_CERTSTATUS_GOOD, kNow - 3600, kNow + kDay, Answer::SameNonce}, kGood, ""},
      {"signed by a stranger", {V_OCSP_CERTSTATUS_REVOKED}, kUnknown, "signature", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const UniquePtr<OCSP_REQUEST> request(OCSP_REQUEST_new());
    OCSP_request_add0_id(request.get(), OCSP_cert_to_id(nullptr, leaf.get(), ca.certificate()));
    OCSP_request_add1_nonce(request.get(), nullptr, -1);
    const std::string der = Respond(row.answer, leaf.get(), ca, row.signedByStranger ? stranger : ca, request.get());
    const CertificateRevocation verdict =
        host::revocation::OcspVerdict(der, leaf.get(), ca.certificate(), {leaf.get(), ca.certificate()},
                                      ca.certificate(), request.get(), "OCSP test", week);
    EXPECT_EQ(verdict.status, row.status);
    EXPECT_NE(verdict.problem.find(row.problem), std::string::npos) << verdict.problem;
    if (row.status == kRevoked) {
      EXPECT_EQ(verdict.reason, "keyCompromise");
    }
  }
}

TEST(OcspAnswer, ARevokedFromTheResponderOutranksAGoodStapledOne) {
  const test::TestCa ca("Probe CA");
  const UniquePtr<EVP_PKEY> key = test::NewTestKey();
  const UniquePtr<X509> leaf = ca.IssueCertificate(key.get(), "peer.test", kNow - kDay, 30);
  host::revocation::RevocationFacts facts;
  facts.stapled = Respond({}, leaf.get(), ca, ca, nullptr);
  host::revocation::OcspAnswer asked;
  asked.source = "OCSP http://ocsp.test/";
  asked.response = Respond({V_OCSP_CERTSTATUS_REVOKED}, leaf.get(), ca, ca, nullptr);
  facts.answers.push_back(std::move(asked));
  host::revocation::RevocationOptions options;
  options.ocsp = true;
  const host::revocation::RevocationResult result =
      host::revocation::JudgeRevocation({leaf.get(), ca.certificate()}, 1, facts, options);
  ASSERT_EQ(result.certificates.size(), 1u);
  EXPECT_EQ(result.certificates[0].status, kRevoked);
  EXPECT_EQ(result.certificates[0].source, "OCSP http://ocsp.test/");

  host::revocation::RevocationFacts unreachable;
  host::revocation::OcspAnswer none;
  none.source = "OCSP http://ocsp.test/";
  none.problem = "the responder cannot be reached: connection refused";
  unreachable.answers.push_back(std::move(none));
  const host::revocation::RevocationResult unknown =
      host::revocation::JudgeRevocation({leaf.get(), ca.certificate()}, 1, unreachable, options);
  EXPECT_EQ(unknown.certificates[0].status, kUnknown);
  EXPECT_EQ(unknown.certificates[0].problem, "the responder cannot be reached: connection refused");
}

// A probe whose handshake went well: the peer trusted, its certificate
// ending in 100 days, the stored client certificate asked for and accepted.
host::monitoring::ProbeVerdict Worked() {
  host::monitoring::ProbeVerdict verdict;
  verdict.type = ivo::PeerType::From(1);
  verdict.target = {"peer.test", 443, false};
  verdict.clientStored = true;
  host::tls::HandshakeResult& result = verdict.result;
  result.connected = result.handshake = result.chainTrusted = true;
  result.protocol = "TLSv1.3";
  result.chain.push_back({"CN=peer.test", "CN=Probe CA", "2027-03-18T00:00:00Z", kNow + 100 * kDay});
  result.anchorDepth = 1;
  result.clientRequested = result.clientOffered = true;
  result.clientAccepted = true;
  verdict.revocation.certificates.push_back(Found(std::nullopt));
  return verdict;
}

TEST(ProbeVerdict, StatesFollowTheRules) {
  using Change = std::function<void(host::monitoring::ProbeVerdict&, host::monitoring::ProbeOptions&)>;
  const auto policy = [](host::revocation::RevocationPolicy each) {
    return [each](host::monitoring::ProbeVerdict& verdict, host::monitoring::ProbeOptions& options) {
      options.revocation.policy = each;
      verdict.revocation.certificates[0] = Found(kUnknown);
    };
  };
  // A good peer's certificate, and an intermediate found `status`.
  const auto intermediate = [](RevocationStatus status, host::revocation::RevocationPolicy each) {
    return [status, each](host::monitoring::ProbeVerdict& verdict, host::monitoring::ProbeOptions& options) {
      options.revocation.policy = each;
      verdict.revocation.certificates = {Found(kGood, "OCSP"), Found(status, "OCSP")};
      verdict.revocation.certificates[1].depth = 1;
    };
  };
  struct Row {
    const char* name;
    Change change;
    State state;
    const char* summary;  // part of it
    bool works = true;
  } const rows[] = {
      {"nothing wrong", [](auto&, auto&) {}, State::Ok, "peer.test:443 is trusted by the stored edr server"},
      {"refused connection", [](auto& v, auto&) { v.result = {}, v.result.failure = "connection refused"; },
       State::Critical, "cannot connect to peer.test:443: connection refused", false},
      {"untrusted peer", [](auto& v, auto&) { v.result.verifyError = X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY; },
       State::Critical, "is not trusted by the stored edr server certificate", false},
      {"another name", [](auto& v, auto&) { v.result.verifyError = X509_V_ERR_HOSTNAME_MISMATCH; }, State::Critical,
       "does not name peer.test", false},
      {"client certificate refused",
       [](auto& v, auto&) { v.result.clientAccepted = false, v.result.clientRefusal = "unknown CA"; }, State::Critical,
       "the peer refused the edr client certificate: unknown CA", false},
      {"ends within the critical days",
       [](auto& v, auto&) { v.result.chain[0].notAfterSeconds = kNow + 5 * kDay + 60; }, State::Critical,
       "ends in 5 days"},
      {"ends within the warning days",
       [](auto& v, auto&) { v.result.chain[0].notAfterSeconds = kNow + 20 * kDay + 60; }, State::Warning,
       "ends in 20 days"},
      {"client certificate not asked for",
       [](auto& v, auto&) { v.result.clientRequested = v.result.clientOffered = false; }, State::Warning,
       "asked for no client certificate"},
      {"no verdict on the client certificate", [](auto& v, auto&) { v.result.clientAccepted.reset(); }, State::Warning,
       "gave no verdict"},
      {"revoked", [](auto& v, auto&) { v.revocation.certificates[0] = Found(kRevoked, "CRL x"); }, State::Critical,
       "the peer's certificate CN=x is revoked by CRL x"},
      {"revoked while another level is unknown, soft",
       [](auto& v, auto& o) {
         o.revocation.policy = host::revocation::RevocationPolicy::Soft;
         v.revocation.certificates = {Found(kUnknown), Found(kRevoked, "OCSP")};
         v.revocation.certificates[1].depth = 1;
       },
       State::Critical, "the intermediate CN=x is revoked by OCSP"},
      {"unknown, soft", policy(host::revocation::RevocationPolicy::Soft), State::Ok,
       "the revocation of the peer's certificate CN=x is unknown (no CRL of its issuer)"},
      {"unknown, warn", policy(host::revocation::RevocationPolicy::Warn), State::Warning, "is unknown"},
      {"unknown, strict", policy(host::revocation::RevocationPolicy::Strict), State::Critical, "is unknown"},
      {"nothing stapled, stapling required", [](auto&, auto& o) { o.revocation.requireStapling = true; },
       State::Critical, "staples no OCSP response"},
      {"good, due for an update within the warning hours",
       [](auto& v, auto& o) {
         o.revocation.warningHours = 24;
         v.revocation.certificates[0] = Found(kGood, "stapled OCSP");
         v.revocation.certificates[0].nextUpdate = kNow + 3600;
       },
       State::Warning, "due for an update"},
      {"good", [](auto& v, auto&) { v.revocation.certificates[0] = Found(kGood, "CRL x"); }, State::Ok,
       "revocation: 1 of 1 certificates below the anchor good, none revoked"},
      {"an intermediate unknown, warn", intermediate(kUnknown, host::revocation::RevocationPolicy::Warn), State::Ok,
       "1 of 2 certificates below the anchor good, none revoked; the revocation of the intermediate CN=x is unknown"},
      {"an intermediate unknown, strict", intermediate(kUnknown, host::revocation::RevocationPolicy::Strict),
       State::Critical, "the revocation of the intermediate CN=x is unknown"},
      {"an intermediate names no responder, strict",
       intermediate(kNotCheckable, host::revocation::RevocationPolicy::Strict), State::Critical,
       "the intermediate CN=x is not checkable"},
      {"the peer names no source, warn",
       [](auto& v, auto&) { v.revocation.certificates[0] = Found(kNotCheckable, "OCSP"); }, State::Ok,
       "the peer's certificate CN=x is not checkable"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host::monitoring::ProbeVerdict verdict = Worked();
    host::monitoring::ProbeOptions options;
    row.change(verdict, options);
    host::monitoring::JudgePeer(verdict, options, kNow);
    EXPECT_EQ(verdict.state, row.state);
    EXPECT_NE(verdict.summary.find(row.summary), std::string::npos) << verdict.summary;
    EXPECT_EQ(verdict.works, row.works);
  }
}

TEST(ProbeVerdict, AMetricsProbeFailsOnARevocationAndUnderStrictOnWhatIsNotGood) {
  struct Row {
    bool works;
    std::optional<RevocationStatus> status;
    host::revocation::RevocationPolicy policy;
    bool succeeded;
  } const rows[] = {
      {true, std::nullopt, host::revocation::RevocationPolicy::Strict, true},
      {true, kGood, host::revocation::RevocationPolicy::Warn, true},
      {true, kRevoked, host::revocation::RevocationPolicy::Soft, false},
      {true, kUnknown, host::revocation::RevocationPolicy::Warn, true},
      {true, kUnknown, host::revocation::RevocationPolicy::Strict, false},
      {false, kGood, host::revocation::RevocationPolicy::Soft, false},
      {true, kNotCheckable, host::revocation::RevocationPolicy::Warn, true},
      {true, kNotCheckable, host::revocation::RevocationPolicy::Strict, false},
  };
  for (const Row& row : rows) {
    host::monitoring::ProbeVerdict verdict;
    verdict.works = row.works;
    verdict.revocation.certificates.push_back(Found(row.status));
    EXPECT_EQ(host::monitoring::ProbeSucceeded(verdict, row.policy), row.succeeded);
  }
}

}  // namespace
