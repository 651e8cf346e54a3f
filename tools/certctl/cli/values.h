// The kinds of value certctl's options and operands take. A command declares
// a field of the kind it wants; the parser reads the text into it once, here,
// and refuses what it cannot read with the same sentence wherever the kind
// is used (Failure, kExitUsage). No command reads a number itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/lifecycle/request.h"
#include "host/monitoring/stored_verdict.h"
#include "host/net/deadline.h"
#include "host/revocation/revocation.h"
#include "host/tls/peer_address.h"
#include "ivo/certificate_type_table.h"

namespace certctl {

// How long a network operation may take unless --timeout says otherwise.
using host::kDefaultTimeoutSeconds;

// The revocation checks, as certctl's probes, metrics and check use them.
using host::revocation::CertificateRevocation;
using host::revocation::kCrlDistributionPoints;
using host::revocation::kDefaultOcspMaxAgeDays;
using host::revocation::RevocationFacts;
using host::revocation::RevocationOptions;
using host::revocation::RevocationPolicy;
using host::revocation::RevocationResult;
using host::revocation::RevocationStatus;

// A peer type: edr, sandbox, ndr, siem (any case) or 1-4. A TYPE operand
// is required: the parser sets it before the command runs, so the first
// type it starts as is never used.
struct PeerType {
  ivo::PeerType value = ivo::PeerType::All().front();
};
// A kind of certificate: server or client.
struct CertKind {
  bool client = false;
};
// A slot, TYPE/KIND ("edr/server"); the parser sets it, as PeerType's.
using host::monitoring::SlotRef;
// A whole number of days, 0 to 999,999,999.
struct Days {
  std::int64_t value = 0;
};
// A whole number of seconds, 0 to 999,999,999,999.
struct Seconds {
  std::int64_t value = 0;
};
// How long to wait: seconds from 0.001 to 3600, fractions allowed.
struct Timeout {
  double seconds = kDefaultTimeoutSeconds;
};
// A whole number, 0 to 999,999,999,999,999,999.
struct Count {
  std::uint64_t value = 0;
};
// A moment, in seconds since 1970: a date and time (UTC, or with an
// RFC 3339 offset) or an age before now ("7d", as journalctl takes it).
struct Date {
  std::int64_t seconds = 0;
};
// A file to read; "-" is standard input.
struct InputFile {
  std::string path;
};
// Trust anchors: a file of certificates (PEM or DER), read when given and
// refused unless it holds certificates and no private key.
struct TrustFile {
  std::string path;
  std::string certificates;  // the file's bytes
};
// A file to write; "-" (or none) is standard output.
struct OutputFile {
  std::string path;
};
// A key to make: ec:P-256 (the default), ec:P-384, rsa:2048, rsa:3072 or
// rsa:4096.
struct KeySpec {
  host::lifecycle::KeyAlgorithm algorithm = host::lifecycle::KeyAlgorithm::EcP256;
};
// A distinguished name, as openssl req takes it ("/CN=agent/O=Example") or
// as it prints it ("CN=agent, O=Example"); each field one OpenSSL knows.
struct DistinguishedName {
  std::vector<std::pair<std::string, std::string>> fields;
  std::string der;  // as a certificate holds it
};
// A subject alternative name in openssl's form (DNS:x, IP:x, email:x,
// URI:x); given bare, an address is IP, a name with @ email, one with ://
// URI, any other DNS.
struct AlternativeName {
  std::string text;
};
// A CA's CMP address: an http URL of a host, "http://" optional.
struct CmpServer {
  std::string url;
};
// The request a renewal sends over CMP: kur (a key update, the default) or
// cr (a certification request).
struct CmpCommand {
  std::string name = "kur";
};
// How a revocation check that could not be made counts: soft, warn (the
// default) or strict.
struct RevocationMode {
  RevocationPolicy value = RevocationPolicy::Warn;
};
// A number of hours, 0 to 1,000,000, fractions allowed.
struct Hours {
  double value = 0;
};
// TYPE=HOST[:PORT]: a probe of a type's peer.
// TYPE=HOST[:PORT][/SERVERNAME]: a probe of metrics, with the name it
// sends when it names one.
struct ProbeRequest {
  ivo::PeerType type = ivo::PeerType::All().front();  // set by the parser, as PeerType's
  host::tls::PeerAddress target;
  std::string servername;
  // As given: "HOST:PORT", or "HOST:PORT/SERVERNAME".
  std::string text() const { return target.text(servername); }
};

// What a field holds before any option sets it, as the help shows it
// ("10"); empty when nothing is worth saying (nothing, or an empty value).
template <class T>
std::string DefaultText(const T&) {
  return "";
}
std::string DefaultText(const Timeout& timeout);
std::string DefaultText(const Days& days);
std::string DefaultText(const KeySpec& key);
std::string DefaultText(const CmpCommand& command);
std::string DefaultText(const RevocationMode& mode);
std::string DefaultText(const Hours& hours);  // empty for 0

// What completes a value on the shell's command line: these words, and
// file or variable names when `files` or `variables` says so.
struct Completion {
  std::vector<std::string> words;
  bool files = false;
  bool variables = false;
};
// A kind of value, as a tag for CompletionOf.
template <class T>
struct Kind {};
// What completes a value of a kind; nothing for a free text or a number.
template <class T>
Completion CompletionOf(Kind<T>) {
  return {};
}
Completion CompletionOf(Kind<PeerType>);
Completion CompletionOf(Kind<CertKind>);
Completion CompletionOf(Kind<SlotRef>);
Completion CompletionOf(Kind<InputFile>);
Completion CompletionOf(Kind<OutputFile>);
Completion CompletionOf(Kind<TrustFile>);
Completion CompletionOf(Kind<KeySpec>);
Completion CompletionOf(Kind<ProbeRequest>);  // "edr=": a type, its host to follow
template <class T>
Completion CompletionOf(Kind<std::optional<T>>) {
  return CompletionOf(Kind<T>{});
}
template <class T>
Completion CompletionOf(Kind<std::vector<T>>) {
  return CompletionOf(Kind<T>{});
}
// What a value's name adds for a text field: files for a FILE or PATH,
// variables for a VARIABLE, the lower-case words of a choice ("kur|cr").
void AddCompletionOfName(const std::string& valueName, Completion& completion);

// Reads `text`, the value of `option` ("--warning", or an operand's name),
// into `out`; throws Failure (kExitUsage) with a sentence naming both.
void ReadValue(const std::string& text, const std::string& option, std::string& out);
void ReadValue(const std::string& text, const std::string& option, PeerType& out);
void ReadValue(const std::string& text, const std::string& option, CertKind& out);
void ReadValue(const std::string& text, const std::string& option, SlotRef& out);
// TYPE/KIND,... : each slot of a comma-separated list.
void ReadValue(const std::string& text, const std::string& option, std::vector<SlotRef>& out);
void ReadValue(const std::string& text, const std::string& option, Days& out);
void ReadValue(const std::string& text, const std::string& option, Seconds& out);
void ReadValue(const std::string& text, const std::string& option, Timeout& out);
void ReadValue(const std::string& text, const std::string& option, Count& out);
// A whole number up to 4294967295 (a trace level).
void ReadValue(const std::string& text, const std::string& option, std::uint32_t& out);
void ReadValue(const std::string& text, const std::string& option, Date& out);
void ReadValue(const std::string& text, const std::string& option, InputFile& out);
void ReadValue(const std::string& text, const std::string& option, OutputFile& out);
void ReadValue(const std::string& text, const std::string& option, TrustFile& out);
void ReadValue(const std::string& text, const std::string& option, host::tls::PeerAddress& out);
void ReadValue(const std::string& text, const std::string& option, ProbeRequest& out);
void ReadValue(const std::string& text, const std::string& option, KeySpec& out);
void ReadValue(const std::string& text, const std::string& option, DistinguishedName& out);
void ReadValue(const std::string& text, const std::string& option, AlternativeName& out);
void ReadValue(const std::string& text, const std::string& option, CmpCommand& out);
void ReadValue(const std::string& text, const std::string& option, CmpServer& out);
void ReadValue(const std::string& text, const std::string& option, RevocationMode& out);
void ReadValue(const std::string& text, const std::string& option, Hours& out);
// An option given more than once keeps each value; one given once keeps the last.
template <class T>
void ReadValue(const std::string& text, const std::string& option, std::vector<T>& out) {
  ReadValue(text, option, out.emplace_back());
}
template <class T>
void ReadValue(const std::string& text, const std::string& option, std::optional<T>& out) {
  ReadValue(text, option, out.emplace());
}

}  // namespace certctl
