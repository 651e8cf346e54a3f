#include "tools/certctl/cli/values.h"

#include <arpa/inet.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <iterator>
#include <sstream>
#include <utility>

#include "host/lifecycle/cmp_address.h"
#include "ivo/certificate_type_table.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/files.h"
#include "tools/certctl/lib/trust_anchors.h"

namespace certctl {
namespace {

// "--keep takes a whole number, not 'x'"
[[noreturn]] void Refuse(const std::string& option, const std::string& what, const std::string& text) {
  throw Failure(kExitUsage, option + " takes " + what + ", not '" + text + "'");
}

// A whole number of at most `digits` digits; refused with `what`.
std::uint64_t Whole(const std::string& text, const std::string& option, std::size_t digits, const char* what) {
  if (text.empty() || text.size() > digits || text.find_first_not_of("0123456789") != std::string::npos)
    Refuse(option, what, text);
  return std::stoull(text);
}

// A moment as a person gives one: what SecondsFromIso reads, with a space
// instead of the T, an offset instead of the Z (RFC 3339: "+01:00"), or an
// age before `now`, as journalctl takes it ("90s", "30m", "12h", "7d",
// "2w"); nullopt for anything else.
std::optional<std::int64_t> SecondsFromMoment(const std::string& text, std::int64_t now) {
  static const std::pair<char, std::int64_t> kUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}, {'w', 604800}};
  if (text.size() >= 2 && text.size() <= 10 && std::isdigit(static_cast<unsigned char>(text[0]))) {
    const std::string digits = text.substr(0, text.size() - 1);
    for (const auto& [unit, seconds] : kUnits)
      if (text.back() == unit && digits.find_first_not_of("0123456789") == std::string::npos)
        return now - std::stoll(digits) * seconds;
  }
  std::string iso = text;
  if (iso.size() > 10 && iso[10] == ' ') iso[10] = 'T';
  // An offset east of UTC is that much later than UTC there: subtracted.
  std::int64_t offset = 0;
  if (iso.size() == 25 && (iso[19] == '+' || iso[19] == '-') && iso[22] == ':') {
    const std::string hours = iso.substr(20, 2), minutes = iso.substr(23, 2);
    if ((hours + minutes).find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    offset = (iso[19] == '+' ? 1 : -1) * (std::stoll(hours) * 3600 + std::stoll(minutes) * 60);
    iso = iso.substr(0, 19) + "Z";
  }
  const std::optional<std::int64_t> seconds = SecondsFromIso(iso);
  return seconds ? std::optional<std::int64_t>(*seconds - offset) : std::nullopt;
}

constexpr std::pair<const char*, host::lifecycle::KeyAlgorithm> kKeys[] = {
    {"ec:P-256", host::lifecycle::KeyAlgorithm::EcP256},
    {"ec:P-384", host::lifecycle::KeyAlgorithm::EcP384},
    {"rsa:2048", host::lifecycle::KeyAlgorithm::Rsa2048},
    {"rsa:3072", host::lifecycle::KeyAlgorithm::Rsa3072},
    {"rsa:4096", host::lifecycle::KeyAlgorithm::Rsa4096}};
constexpr std::pair<const char*, RevocationPolicy> kModes[] = {
    {"soft", RevocationPolicy::Soft}, {"warn", RevocationPolicy::Warn}, {"strict", RevocationPolicy::Strict}};

}  // namespace

std::string DefaultText(const Timeout& timeout) {
  std::ostringstream text;
  text << timeout.seconds;
  return text.str();
}
std::string DefaultText(const Days& days) { return std::to_string(days.value); }
std::string DefaultText(const Hours& hours) {
  std::ostringstream text;
  if (hours.value > 0) text << hours.value;
  return text.str();
}
std::string DefaultText(const KeySpec& key) {
  for (const auto& [name, algorithm] : kKeys)
    if (algorithm == key.algorithm) return name;
  return "";
}
std::string DefaultText(const CmpCommand& command) { return command.name; }
std::string DefaultText(const RevocationMode& mode) {
  for (const auto& [name, policy] : kModes)
    if (policy == mode.value) return name;
  return "";
}

Completion CompletionOf(Kind<PeerType>) {
  Completion completion;
  for (const ivo::PeerType type : ivo::PeerType::All()) completion.words.push_back(type.keyword());
  return completion;
}
Completion CompletionOf(Kind<CertKind>) { return {{"server", "client"}}; }
Completion CompletionOf(Kind<SlotRef>) {
  Completion completion;
  for (const std::string& type : CompletionOf(Kind<PeerType>{}).words)
    for (const std::string& kind : CompletionOf(Kind<CertKind>{}).words) completion.words.push_back(type + "/" + kind);
  return completion;
}
Completion CompletionOf(Kind<InputFile>) { return {{}, true}; }
Completion CompletionOf(Kind<OutputFile>) { return {{}, true}; }
Completion CompletionOf(Kind<TrustFile>) { return {{}, true}; }
Completion CompletionOf(Kind<KeySpec>) {
  Completion completion;
  for (const auto& key : kKeys) completion.words.push_back(key.first);
  return completion;
}
Completion CompletionOf(Kind<ProbeRequest>) {
  Completion completion = CompletionOf(Kind<PeerType>{});
  for (std::string& word : completion.words) word += "=";
  return completion;
}

void AddCompletionOfName(const std::string& valueName, Completion& completion) {
  std::istringstream choices(valueName);
  for (std::string choice; std::getline(choices, choice, '|');) {
    if (choice.find("FILE") != std::string::npos || choice.find("PATH") != std::string::npos ||
        choice.find(".db") != std::string::npos)
      completion.files = true;
    else if (choice == "VARIABLE")
      completion.variables = true;
    else if (!choice.empty() &&
             std::all_of(choice.begin(), choice.end(), [](unsigned char c) { return std::islower(c); }) &&
             std::find(completion.words.begin(), completion.words.end(), choice) == completion.words.end())
      completion.words.push_back(choice);
  }
}

void ReadValue(const std::string& text, const std::string& option, std::string& out) {
  if (text.empty()) throw Failure(kExitUsage, option + " needs a value");
  out = text;
}

void ReadValue(const std::string& text, const std::string&, PeerType& out) {
  if (const std::optional<ivo::PeerType> type = ivo::PeerType::Parse(text)) {
    out.value = *type;
    return;
  }
  throw Failure(kExitUsage, "unknown certificate type '" + text + "' (use edr, sandbox, ndr, siem or 1-4)");
}

void ReadValue(const std::string& text, const std::string&, CertKind& out) {
  if (text != "server" && text != "client")
    throw Failure(kExitUsage, "unknown kind '" + text + "' (use server or client)");
  out.client = text == "client";
}

void ReadValue(const std::string& text, const std::string& option, SlotRef& out) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) Refuse(option, "TYPE/KIND, such as edr/server", text);
  PeerType type;
  CertKind kind;
  ReadValue(text.substr(0, slash), option, type);
  ReadValue(text.substr(slash + 1), option, kind);
  out = {type.value, kind.client};
}

void ReadValue(const std::string& text, const std::string& option, std::vector<SlotRef>& out) {
  std::istringstream slots(text);
  for (std::string slot; std::getline(slots, slot, ',');) ReadValue(slot, option, out.emplace_back());
}

void ReadValue(const std::string& text, const std::string& option, Days& out) {
  out.value = static_cast<std::int64_t>(Whole(text, option, 9, "a number of days"));
}

void ReadValue(const std::string& text, const std::string& option, Seconds& out) {
  out.value = static_cast<std::int64_t>(Whole(text, option, 12, "a number of seconds"));
}

void ReadValue(const std::string& text, const std::string& option, std::uint32_t& out) {
  const std::uint64_t value = Whole(text, option, 10, "a whole number up to 4294967295");
  if (value > UINT32_MAX) Refuse(option, "a whole number up to 4294967295", text);
  out = static_cast<std::uint32_t>(value);
}

void ReadValue(const std::string& text, const std::string& option, Count& out) {
  out.value = Whole(text, option, 18, "a whole number");
}

void ReadValue(const std::string& text, const std::string& option, Timeout& out) {
  std::istringstream stream(text);
  double seconds = 0;
  stream >> seconds;
  if (text.empty() || !stream.eof() || stream.fail() || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600)
    Refuse(option, "a number of seconds from 0.001 to 3600", text);
  out.seconds = std::max(seconds, 0.001);
}

void ReadValue(const std::string& text, const std::string& option, Date& out) {
  const std::optional<std::int64_t> seconds = SecondsFromMoment(text, std::time(nullptr));
  if (!seconds) Refuse(option, "a date or an age, such as 2020-01-31, 2020-01-31T12:00:00+01:00 or 7d", text);
  out.seconds = *seconds;
}

void ReadValue(const std::string& text, const std::string& option, InputFile& out) {
  if (text.empty()) throw Failure(kExitUsage, option + " needs a file");
  out.path = text;
}

void ReadValue(const std::string& text, const std::string& option, OutputFile& out) {
  if (text.empty()) throw Failure(kExitUsage, option + " needs a file");
  out.path = text;
}

void ReadValue(const std::string& text, const std::string& option, TrustFile& out) {
  if (text.empty()) throw Failure(kExitUsage, option + " needs a file");
  const ozo::blob_t bytes = ReadFileBytes(text);
  if (const std::string problem = TrustFileProblem(bytes); !problem.empty())
    throw Failure(kExitUsage, option + " " + text + " " + problem);
  out.path = text;
  out.certificates.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void ReadValue(const std::string& text, const std::string&, host::tls::PeerAddress& out) {
  if (std::string problem; !host::tls::ReadPeerAddress(text, out, problem)) throw Failure(kExitUsage, problem);
}

void ReadValue(const std::string& text, const std::string& option, ProbeRequest& out) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos)
    throw Failure(kExitUsage, option + " takes TYPE=HOST[:PORT][/SERVERNAME], not '" + text + "'");
  PeerType type;
  ReadValue(text.substr(0, equals), option, type);
  out.type = type.value;
  const std::size_t slash = text.find('/', equals);
  if (slash != std::string::npos) {
    out.servername = text.substr(slash + 1);
    if (out.servername.empty()) throw Failure(kExitUsage, option + " " + text + " names no server after its /");
  }
  ReadValue(text.substr(equals + 1, slash == std::string::npos ? std::string::npos : slash - equals - 1), option,
            out.target);
}

void ReadValue(const std::string& text, const std::string& option, KeySpec& out) {
  for (const auto& [name, algorithm] : kKeys)
    if (text == name) {
      out.algorithm = algorithm;
      return;
    }
  Refuse(option, "ec:P-256, ec:P-384, rsa:2048, rsa:3072 or rsa:4096", text);
}

void ReadValue(const std::string& text, const std::string& option, DistinguishedName& out) {
  const bool slashed = !text.empty() && text[0] == '/';
  std::istringstream parts(slashed ? text.substr(1) : text);
  out.fields.clear();
  for (std::string part; std::getline(parts, part, slashed ? '/' : ',');) {
    const std::size_t start = part.find_first_not_of(' '), equals = part.find('=');
    if (start == std::string::npos || equals == std::string::npos || equals <= start)
      Refuse(option, "a name such as /CN=agent/O=Example or CN=agent, O=Example", text);
    const std::string field = part.substr(start, equals - start), value = part.substr(equals + 1);
    if (OBJ_txt2nid(field.c_str()) == NID_undef)
      throw Failure(kExitUsage, option + ": no name field is called " + field);
    out.fields.emplace_back(field, value);
  }
  if (out.fields.empty()) Refuse(option, "a name such as /CN=agent/O=Example or CN=agent, O=Example", text);
  std::string error;
  const ossl::UniquePtr<X509_NAME> name = host::lifecycle::NameOf(out.fields, error);
  if (!name) throw Failure(kExitUsage, option + ": " + error);
  out.der = ossl::DerOf(name.get(), i2d_X509_NAME);
}

void ReadValue(const std::string& text, const std::string& option, AlternativeName& out) {
  if (text.empty()) throw Failure(kExitUsage, option + " needs a value");
  for (const char* prefix : {"DNS:", "IP:", "email:", "URI:"})
    if (text.rfind(prefix, 0) == 0) return void(out.text = text);
  in6_addr ip6{};
  in_addr ip4{};
  const bool address = ::inet_pton(AF_INET6, text.c_str(), &ip6) == 1 || ::inet_pton(AF_INET, text.c_str(), &ip4) == 1;
  out.text = address                                 ? "IP:" + text
             : text.find("://") != std::string::npos ? "URI:" + text
             : text.find('@') != std::string::npos   ? "email:" + text
                                                     : "DNS:" + text;
}

void ReadValue(const std::string& text, const std::string& option, CmpCommand& out) {
  if (text != "kur" && text != "cr") Refuse(option, "kur or cr", text);
  out.name = text;
}

void ReadValue(const std::string& text, const std::string& option, CmpServer& out) {
  host::lifecycle::CmpAddress address;
  if (std::string problem; ozo::Failed(host::lifecycle::ReadCmpAddress(text, address, problem)))
    throw Failure(kExitUsage, option + " " + text + " " + problem);
  out.url = text;
}

void ReadValue(const std::string& text, const std::string& option, RevocationMode& out) {
  for (const auto& [name, policy] : kModes)
    if (text == name) return void(out.value = policy);
  Refuse(option, "soft, warn or strict", text);
}

void ReadValue(const std::string& text, const std::string& option, Hours& out) {
  char* end = nullptr;
  const double value = text.empty() ? -1 : std::strtod(text.c_str(), &end);
  if (!end || *end || !(value >= 0 && value <= 1e6)) Refuse(option, "a number of hours from 0 to 1000000", text);
  out.value = value;
}

}  // namespace certctl
