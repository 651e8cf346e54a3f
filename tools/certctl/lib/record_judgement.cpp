#include "tools/certctl/lib/record_judgement.h"

#include <ctime>

#include "host/service_host.h"
#include "ivo/certificate_type_table.h"
#include "ivo/certificates_manager.h"
#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/files.h"
#include "tools/certctl/lib/output.h"

namespace certctl {
namespace {

// The manager's JSON document of one certificate, taken apart.
void TakeApart(const char* document, StoredCertificate& entry) {
  const Json parsed = Json::parse(document, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    entry.problem = "the manager's description cannot be read";
    return;
  }
  entry.subject = Utf8Name(parsed.value("Subject", ""));
  entry.issuer = Utf8Name(parsed.value("Issuer", ""));
  entry.serial = parsed.value("SerialNumber", "");
  entry.notBefore = parsed.value("IssuingDate", "");
  entry.notAfter = parsed.value("ExpirationDate", "");
  const std::optional<std::int64_t> notBefore = SecondsFromIso(entry.notBefore);
  const std::optional<std::int64_t> notAfter = SecondsFromIso(entry.notAfter);
  if (!notBefore || !notAfter) {
    entry.problem = "the manager's dates cannot be read";
    return;
  }
  entry.notBeforeSeconds = *notBefore;
  entry.notAfterSeconds = *notAfter;
}

std::string Code(ozo::result_t result) {
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08x", static_cast<std::uint32_t>(result));
  return code;
}

// The record in the slot of a scratch host of its own, as a manager sees it.
template <class Record>
StoredCertificate JudgeInScratchHost(const host::Module& component, const TraceRoute& trace, ivo::PeerType type,
                                     const Record& record, bool client) {
  StoredCertificate entry(type);
  entry.client = client;
  host::HostOptions options;
  options.traceThreshold = 0;
  host::ServiceHost host(std::move(options));
  RouteTrace(host.tracer(), trace.level, trace.log);
  const ozo::result_t written = host.WriteRecord(type, record);
  if (ozo::Failed(written))
    throw Failure(kExitFailed, "cannot prepare a record to judge: " + host::ResultText(written), written);
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
  const ozo::result_t created = component.Create(ivo::ClsIdCertificatesManager, host.locatorAddress(), manager);
  if (ozo::Failed(created)) {
    entry.loadable = false;
    const std::string why = ExplainRecord(record, true);
    entry.problem = "cannot be loaded (" + Code(created) + "): " + (why.empty() ? "the component refuses it" : why);
    return entry;
  }
  ozo::string8_t document;
  const ozo::result_t queried =
      client ? manager->QueryClientCertificate(type, document) : manager->QueryServerCertificate(type, document);
  if (queried == ozo::results::NoError) {
    TakeApart(document.c_str(), entry);
  } else {
    const std::string why = ExplainRecord(record, false);
    entry.problem = why.empty() ? "cannot be decoded: " + host::ResultText(queried)
                                : "cannot be decoded (" + Code(queried) + "): " + why;
  }
  return entry;
}

}  // namespace

StoredCertificate JudgeRecord(const host::Module& component, const TraceRoute& trace, ivo::PeerType type,
                              const ivo::ServerCertificate& record) {
  return JudgeInScratchHost(component, trace, type, record, false);
}

StoredCertificate JudgeRecord(const host::Module& component, const TraceRoute& trace, ivo::PeerType type,
                              const ivo::ClientCertificate& record) {
  return JudgeInScratchHost(component, trace, type, record, true);
}

std::string ExplainRecord(const ivo::ServerCertificate& record, bool dates) {
  ServerFile file;
  const std::string problem = ReadServerFile(record.certificate, file);
  if (!problem.empty()) return "it " + problem;
  return dates ? DateProblem(file.certificates.front().get()) : "";
}

std::string ExplainRecord(const ivo::ClientCertificate& record, bool dates) {
  ClientFile file;
  const ContainerProblem problem = ReadClientFile(record.certificate, record.password, file);
  if (problem != ContainerProblem::None) return Describe(problem, Holder::Record);
  return dates ? DateProblem(file.certificate.get()) : "";
}

}  // namespace certctl
