// A CA seam that answers in-process, as a test says, with certificates of
// a TestCa: a renewal or enrollment runs end to end without a network.
#pragma once

#include <cstdint>
#include <functional>

#include "host/lifecycle/ca.h"
#include "host/testing/test_ca.h"

namespace host::testing {

class InProcessCa : public lifecycle::CertificateAuthority {
 public:
  enum class Answer {
    Issue,               // a 30-day client certificate of the issuer for the new key
    Refuse,              // the CA's rejection, in its words
    IssueForAnotherKey,  // a certificate of the issuer for some other key
    IssueFromAnotherCa,  // a certificate for the new key from a CA nobody trusts
    IssueCaCertificate,  // a CA certificate for the new key
  };
  // Certificates start a minute before `now` (seconds since 1970). The
  // issuer must outlive this CA.
  InProcessCa(const TestCa& issuer, std::int64_t now) : m_issuer(issuer), m_now(now) {}

  Answer answer = Answer::Issue;
  std::function<void()> meanwhile;  // what else happens while the CA answers
  int asked = 0;                    // the requests answered so far

  // Answers as `answer` says (a general message is answered, nothing issued).
  lifecycle::CaAnswer Request(const lifecycle::CaRequest& request) override;

 private:
  const TestCa& m_issuer;
  TestCa m_stranger{"Stranger CA"};
  std::int64_t m_now;
};

}  // namespace host::testing
