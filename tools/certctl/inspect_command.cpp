// inspect: describes a certificate file without touching any store.
#include <iostream>

#include "ivo/certificate_type_table.h"
#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"
#include "tools/certctl/output.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

// The tool writes the record into a temporary in-memory store, creates a
// manager over it and prints the manager's own document and whether its
// start-up check found the certificate outside its validity period.
int Inspect(const Invocation& invocation) {
  const ozo::blob_t blob = ReadFileBytes(invocation.Argument(0, "FILE"));
  const bool client = invocation.Has("--client") || !invocation.Value("--password-file").empty() ||
                      !invocation.Value("--password-env").empty();
  Secret password;
  if (client) password = ReadPassword(PasswordOf(invocation), "Password of the PKCS#12 container: ");

  host::Module component;
  std::string error;
  if (!component.Load(LibraryPath(invocation.options.library), error))
    throw Failure(kExitStore, "cannot load the certificates manager: " + error);
  host::HostOptions options;
  options.traceThreshold = 0;
  host::ServiceHost host(std::move(options));
  RouteTrace(host.tracer(), invocation.options.traceLevel, stderr);
  bool outside = false;
  host.events().SetSink(
      [&outside](const ivo::CertificateEvent& event) { outside |= event.eventType == ivo::CertificateExpiredEvent; });
  constexpr ivo::CertificateType kSlot = 1;
  const result_t written = client ? host.WriteRecord(kSlot, ivo::ClientCertificate(blob, password.text()))
                                  : host.WriteRecord(kSlot, ivo::ServerCertificate{blob});
  if (ozo::Failed(written))
    throw Failure(kExitFailed, "cannot prepare the record: " + DescribeResult(written), written);

  ozo::ref_ptr<ivo::ICertificatesManager> manager;
  const result_t created = component.Create(ivo::ClsIdCertificatesManager, host.locatorAddress(), manager);
  if (ozo::Failed(created))
    throw Failure(kExitFailed, "cannot create the certificates manager: " + DescribeResult(created), created);
  ozo::string8_t document;
  const result_t result =
      client ? manager->QueryClientCertificate(kSlot, document) : manager->QueryServerCertificate(kSlot, document);
  manager.Reset();
  if (result != results::NoError) {
    const result_t failure = result == results::False ? results::UnspecifiedError : result;
    throw Failure(kExitFailed, Refusal(failure), failure);
  }
  if (invocation.options.json) {
    Json json = {{"certificate", Json::parse(document.c_str())}, {"outsideValidityPeriod", outside}};
    PrintJson(json);
  } else {
    std::cout << document.c_str() << "outside its validity period: " << (outside ? "yes" : "no") << "\n";
  }
  return kExitOk;
}

}  // namespace certctl
