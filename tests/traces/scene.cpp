#include "tests/traces/scene.h"

#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <regex>

#include "ossl/holders.h"
#include "tests/support/transcript.h"

namespace test {
namespace {

using ossl::UniquePtr;
using ozo::types::variant_t;
using ozo::types::VariantTag;

constexpr std::uint64_t k1601To1970 = 116444736000000000ull;  // in 100-ns intervals

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08x", value);
  return text;
}

std::string Narrow(const ozo::string16_t& text) {
  std::string narrow;
  for (std::size_t i = 0; i < text.size(); ++i) narrow += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  return narrow;
}

std::string Subject(X509* certificate) {
  char name[256];
  return X509_NAME_oneline(X509_get_subject_name(certificate), name, sizeof(name));
}

std::string Value(const variant_t& value) {
  switch (value.tag()) {
    case VariantTag::String8:
      return "\"" + Printable(value.string8().view()) + "\"";
    case VariantTag::String16:
      return "u\"" + Narrow(value.string16()) + "\"";
    case VariantTag::Blob:
      return DescribeBlob(value.blob());
    case VariantTag::DateTime: {
      const std::time_t seconds = static_cast<std::time_t>((value.datetime() - k1601To1970) / 10000000);
      std::tm utc{};
      char text[32];
      gmtime_r(&seconds, &utc);
      std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
      return text;
    }
    default:
      return std::to_string(value.scalar());
  }
}

std::string Initiator(const ivo::ChangeInitiator& initiator) {
  std::string text = std::to_string(initiator.kind);
  if (initiator.details.has_value())
    text += " (" + std::to_string(initiator.details->id) + " " + Narrow(initiator.details->name) + ")";
  return text;
}

std::string Event(const ivo::CertificateEvent& event, std::int64_t now) {
  std::string text =
      "event " + std::to_string(event.eventType) + " severity " + std::to_string(event.severity) + " by " +
      Initiator(event.initiator) +
      (event.time >= now - 3600 && event.time <= now + 3600 ? " now" : " at " + std::to_string(event.time));
  if (event.reserved) text += " reserved " + std::to_string(event.reserved);
  for (const ivo::RuntimeField& field : event.fields)
    text += "\n    " + std::to_string(field.name) + " " + Value(field.data);
  for (const ivo::AdditionalField& field : event.additionalFields)
    text += "\n    additional " + std::to_string(field.name) + " " + Value(field.data);
  return text;
}

std::string NameOf(ozo::IStorage* node, std::uint32_t index, bool value) {
  char name[256] = "";
  std::uint32_t size = sizeof(name);
  value ? node->GetValueName(index, name, size) : node->GetNodeName(index, name, size);
  return name;
}

// One line per node: its path and its values in order.
void Dump(ozo::IStorage* node, const std::string& path, std::ostringstream& out) {
  std::uint32_t count = 0;
  node->GetValuesCount(count);
  out << "store " << (path.empty() ? "/" : path);
  for (std::uint32_t i = 0; i < count; ++i) {
    variant_t value;
    const ozo::result_t read = node->GetValue(i, value, nullptr);
    out << " " << NameOf(node, i, true) << "=" << (read == 0 ? Value(value) : "<" + Hex(read) + ">");
  }
  out << "\n";
  node->GetNodesCount(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    ozo::ref_ptr<ozo::IStorage> child;
    if (node->GetNode(i, child.Ref()) == 0) Dump(child.get(), path + "/" + NameOf(node, i, false), out);
  }
}

// A trace record on lines of its own, its call stack's frames (which vary
// with the build) masked.
std::string Record(const test::TraceLine& line) {
  static const std::regex kFrames("Call stack:\n[^]*$");
  std::string text = std::regex_replace(line.text, kFrames, "Call stack:\n<frames>");
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 5) text.replace(at, 1, "\n    ");
  return "[" + std::to_string(line.level) + "] " + text + "\n";
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    char escaped[8];
    std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
    out += std::isprint(c) ? std::string(1, static_cast<char>(c)) : escaped;
  }
  return out;
}

std::string DescribeBlob(const ozo::blob_t& blob) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(blob.data());
  const long size = static_cast<long>(blob.size());
  const unsigned char* cursor = bytes;
  if (UniquePtr<X509> der(d2i_X509(nullptr, &cursor, size)); der && cursor == bytes + size)
    return "DER " + Subject(der.get());
  UniquePtr<BIO> bio(BIO_new_mem_buf(bytes, static_cast<int>(size)));
  if (UniquePtr<X509> pem(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)); pem)
    return "PEM " + Subject(pem.get());
  cursor = bytes;
  if (UniquePtr<PKCS12> container(d2i_PKCS12(nullptr, &cursor, size)); container) return "PKCS#12";
  const std::string text = StringOf(blob);
  for (char c : text)
    if (!std::isprint(static_cast<unsigned char>(c))) return "<" + std::to_string(size) + " bytes>";
  return "\"" + text + "\"";
}

void Scene::Drain() {
  for (const test::TraceLine& line : m_host.traceLines()) m_text << Record(line);
  m_host.ClearTrace();
  const auto queries = m_host.policy().queries().items();
  for (; m_queries < queries.size(); ++m_queries) {
    const auto& query = queries[m_queries];
    m_text << "policy asked " << Hex(query.settingId);
    for (const auto& [name, value] : query.values) m_text << " " << name << "=\"" << value << "\"";
    m_text << (query.dependenciesPresent ? " with dependencies" : "") << (query.anyFlagSet ? " with flags" : "")
           << "\n";
  }
  const auto locks = m_host.storageMutex().acquisitions().items();
  if (!locks.empty()) {
    m_text << "locks";
    for (test::InterceptedMutex::Kind kind : locks)
      m_text << (kind == test::InterceptedMutex::Kind::Shared ? " shared" : " exclusive");
    m_text << "\n";
  }
  m_host.storageMutex().ClearRecord();
  if (m_host.storageMutex().nestedAcquisitions() != m_nested) m_text << "a lock was taken while one was held\n";
  m_nested = m_host.storageMutex().nestedAcquisitions();
  const auto events = m_host.events().events().items();
  for (; m_events < events.size(); ++m_events) m_text << Event(events[m_events], std::time(nullptr)) << "\n";
}

void Scene::Print(const std::string& line) {
  Drain();
  m_text << line << "\n";
}

ozo::result_t Scene::Call(const std::string& what, ozo::result_t result) {
  Print("= " + what + ": " + Hex(static_cast<std::uint32_t>(result)));
  return result;
}

std::string Scene::Take() {
  Drain();
  const std::string text = MaskVarying(m_text.str());
  m_text.str("");
  return text;
}

std::string Scene::StoredTree() {
  std::ostringstream tree;
  Dump(m_host.storageRoot(), "", tree);
  return MaskVarying(tree.str());
}

}  // namespace test
