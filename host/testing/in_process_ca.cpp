#include "host/testing/in_process_ca.h"

namespace host::testing {

lifecycle::CaAnswer InProcessCa::Request(const lifecycle::CaRequest& request) {
  if (meanwhile) meanwhile();
  ++asked;
  lifecycle::CaAnswer answer;
  if (request.kind == lifecycle::CaRequest::Kind::GeneralMessage) {
    answer.answered = this->answer != Answer::Refuse;
    if (!answer.answered) answer.error = "request rejected by server: PKIStatus: rejection";
    return answer;
  }
  const std::string name = request.certificate ? "agent.test" : "enrolled.test";
  const std::int64_t from = m_now - 60;
  const ossl::UniquePtr<EVP_PKEY> other = NewTestKey();
  answer.issued = true;
  switch (this->answer) {
    case Answer::Refuse:
      answer.issued = false;
      answer.error = "request rejected by server: PKIStatus: rejection";
      break;
    case Answer::IssueForAnotherKey:
      answer.certificates = m_issuer.Issue(other.get(), name, from, 30);
      break;
    case Answer::IssueFromAnotherCa:
      answer.certificates = m_stranger.Issue(request.newKey, name, from, 30);
      break;
    case Answer::IssueCaCertificate:
      answer.certificates = m_issuer.Issue(request.newKey, name, from, 30, true);
      break;
    case Answer::Issue:
      answer.certificates = m_issuer.Issue(request.newKey, name, from, 30);
      break;
  }
  return answer;
}

}  // namespace host::testing
