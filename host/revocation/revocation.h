// Whether the certificates of a peer's chain are revoked: by the OCSP
// response the peer stapled, by the responders their certificates name, and
// by CRLs. OpenSSL checks every signature, name and date; this says what it
// found for each certificate and where from.
#pragma once

#include <openssl/ocsp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ossl/holders.h"
#include "ossl/text.h"

namespace host::revocation {

using ossl::CertificateStack;
using ossl::SecondsOf;
using ossl::UniquePtr;

// How a check that could not be made (a responder or CRL out of reach, an
// answer of "unknown", a stale CRL) counts: OK with a note (soft), WARNING
// (the default) or CRITICAL (strict). The leaf's check counts so; a
// certificate above it counts only under strict, which also demands a
// source for every certificate of the chain (see ChainStatus).
enum class RevocationPolicy { Soft, Warn, Strict };

// The --crl source that stands for each certificate's distribution points.
constexpr const char* kCrlDistributionPoints = "fetch";

// How old an OCSP answer without a next update may be and still count.
constexpr std::int64_t kDefaultOcspMaxAgeDays = 7;

struct RevocationOptions {
  bool ocsp = false;          // ask the responders when nothing good is stapled
  bool ocspLeafOnly = false;  // ask only the leaf's responder
  std::string crl;            // "": none; kCrlDistributionPoints; else a file or URL
  bool fetchesCrls() const { return crl == kCrlDistributionPoints; }
  bool requireStapling = false;  // nothing stapled is CRITICAL
  RevocationPolicy policy = RevocationPolicy::Warn;
  double warningHours = 0;  // WARNING when a response or CRL is due for an update within these hours
  std::int64_t ocspMaxAgeSeconds = kDefaultOcspMaxAgeDays * 86400;  // of an answer without a next update
  bool any() const { return ocsp || !crl.empty() || requireStapling; }
};

// Tolerated difference between the peer's clock and ours when a response or
// CRL says when it was made and until when it holds.
constexpr long kRevocationClockSkewSeconds = 300;

// NotCheckable: the certificate names no source the check asked for (no
// OCSP responder for an OCSP check, no CRL distribution point for CRLs
// fetched from them), so no answer can ever come; Unknown: a source was
// named or given and gave no usable answer.
enum class RevocationStatus { Good, Revoked, Unknown, NotCheckable };

// What was found for one certificate of the chain (depth 0: the peer's).
struct CertificateRevocation {
  int depth = 0;
  std::string subject;
  std::optional<RevocationStatus> status;  // none: nothing was checked
  std::string source;                      // "stapled OCSP", "OCSP http://...", "CRL http://...", "CRL FILE"
  std::string problem;                     // why it is unknown, or a note ("stale")
  std::string reason;                      // of a revocation: "keyCompromise"
  std::optional<std::int64_t> revokedAt, nextUpdate;
};

struct RevocationResult {
  bool stapled = false;                             // the peer stapled a response
  std::string staplingProblem;                      // why a stapled response was not accepted
  std::vector<CertificateRevocation> certificates;  // those below the anchor
};

// What was fetched to judge a chain: the stapled response, the responders'
// answers and the CRLs, as they came. No verdict yet.
struct OcspAnswer {
  UniquePtr<OCSP_REQUEST> request;  // ours, with its nonce
  std::string response;             // DER; empty when none came
  std::string source;               // "OCSP http://...", or "OCSP" when the certificate names none
  std::string problem;              // why none came
  bool named = true;                // false: the certificate names no responder
};
struct RevocationFacts {
  std::string stapled;                             // DER, or empty
  std::vector<std::optional<OcspAnswer>> answers;  // by depth, where a responder was asked
  std::vector<UniquePtr<X509_CRL>> crls;
  std::vector<std::string> crlSources, crlProblems;  // by depth, when CRLs were asked for
  std::vector<bool> crlUnnamed;  // by depth: fetching from distribution points, the certificate names none
};

// The certificates below the anchor in `chain` (the verified chain, the
// peer's certificate first, the anchor at `anchorDepth`) judged by `facts`:
// each source's verdict, the strongest kept (see Merge). A CRL named by the
// operator that covers no issuer of a certificate leaves it unchecked, with
// a note. No I/O.
RevocationResult JudgeRevocation(const std::vector<X509*>& chain, int anchorDepth, const RevocationFacts& facts,
                                 const RevocationOptions& options);

// Which verdict stands when two sources judged one certificate: a
// revocation, else a good answer, else the first unknown, else not
// checkable; `other` replaces `kept` only when it ranks higher.
void Merge(CertificateRevocation& kept, const CertificateRevocation& other);

// What the chain comes to: revoked when any certificate was found revoked,
// else the leaf's own status (none when the leaf was not checked). A
// certificate above the leaf that could not be judged does not make the
// chain unknown: its issuer is a CA the anchor vouches for, and most
// private CAs name no responder for their intermediates.
std::optional<RevocationStatus> ChainStatus(const RevocationResult& revocation);
// Whether every certificate checked was found good, as strict demands.
bool AllGood(const RevocationResult& revocation);
// The soonest next update of the answers that judged the chain; none when
// nothing was checked.
std::optional<std::int64_t> SoonestUpdate(const RevocationResult& revocation);

// `certificate` (issued by `issuer`) judged by the OCSP response `der`:
// accepted only when signed by the issuer or a responder it delegated (the
// signer's chain leads to `anchor`, borrowing `chain`), when it names this
// certificate, is current within kRevocationClockSkewSeconds (an answer
// without a next update for `maxAgeSeconds` after it was made), was made
// after the certificate was issued, and, for an answer to `request`,
// carries its nonce if any. Anything else is no evidence: unknown, with why.
CertificateRevocation OcspVerdict(const std::string& der, X509* certificate, X509* issuer,
                                  const std::vector<X509*>& chain, X509* anchor, OCSP_REQUEST* request,
                                  const std::string& source, std::int64_t maxAgeSeconds);

// The CRL among `crls` of `certificate`'s issuer (by name), or null.
X509_CRL* CrlOfIssuer(const std::vector<UniquePtr<X509_CRL>>& crls, X509* certificate);

// The certificates below the anchor of `chain` (the anchor at
// `anchorDepth`, trusted) judged by `crls` as OpenSSL's verification with
// X509_V_FLAG_CRL_CHECK_ALL judges them: each revoked (with the reason and
// date), good, or unknown with why (no CRL of its issuer, a bad signature,
// a stale CRL); their sources are left to the caller.
std::vector<CertificateRevocation> CrlVerdicts(const std::vector<X509*>& chain, int anchorDepth,
                                               const std::vector<UniquePtr<X509_CRL>>& crls);

}  // namespace host::revocation
