// The manager driven by a small op-code program against the host for tests:
// each step is an operation byte, a type byte, and for changes a blob
// (16-bit length) and, for client records, a password (8-bit length).
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "host/service_host.h"
#include "ivo/certificates_manager.h"
#include "ozo/module.h"

namespace {

constexpr ivo::CertificateType kTypes[] = {1, 2, 3, 4, 1, 0, 5, 0xFFFFFFFF};

ivo::ChangeInitiator Initiator(fuzz::Input& input) {
  ivo::ChangeInitiator initiator;
  initiator.kind = input.Byte() % 4;
  return initiator;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  host::HostOptions options;
  options.traceThreshold = 300;
  host::ServiceHost host(std::move(options));
  {
    ozo::ref_ptr<ozo::IObject> object;
    if (ozoCreateObject(ivo::ClsIdCertificatesManager, host.locatorAddress(), object.Ref()) != 0) std::abort();
    ozo::ref_ptr<ivo::ICertificatesManager> manager;
    if (ozo::QueryInterface(object.get(), manager) != 0) std::abort();
    for (int steps = 0; !input.empty() && steps < 64; ++steps) {
      const std::uint8_t op = input.Byte() % 13;
      const ivo::CertificateType type = kTypes[input.Byte() % 8];
      switch (op) {
        case 0:
        case 2: {
          const ivo::ServerCertificate record{fuzz::BlobOf(input.Bytes(input.Short()))};
          op == 0 ? manager->SetServerCertificate(type, record, Initiator(input))
                  : manager->SetPolicyServerCertificate(type, record);
          break;
        }
        case 1:
        case 3: {
          const ozo::blob_t container = fuzz::BlobOf(input.Bytes(input.Short()));
          const std::string password = input.Bytes(input.Byte());
          const ivo::ClientCertificate record(container, ozo::string8_t(password.data(), password.size()));
          op == 1 ? manager->SetClientCertificate(type, record, Initiator(input))
                  : manager->SetPolicyClientCertificate(type, record);
          break;
        }
        case 4: {
          ivo::ServerCertificate out{fuzz::BlobOf("held")};  // out records may hold data already
          manager->GetServerCertificate(type, out);
          break;
        }
        case 5: {
          ivo::ServerCertificate out;
          manager->GetServerPemCertificate(type, out);
          break;
        }
        case 6: {
          ivo::ClientCertificate out(fuzz::BlobOf("held"), "held");
          manager->GetClientCertificate(type, out);
          break;
        }
        case 7:
        case 8: {
          ozo::string8_t json("held");
          op == 7 ? manager->QueryServerCertificate(type, json) : manager->QueryClientCertificate(type, json);
          break;
        }
        case 9:
          manager->RemoveServerCertificate(type, Initiator(input));
          break;
        case 10:
          manager->RemoveClientCertificate(type, Initiator(input));
          break;
        case 11:
          manager->RemovePolicyServerCertificate(type);
          break;
        default:
          manager->RemovePolicyClientCertificate(type);
      }
    }
  }
  if (ozoCanUnloadModule() != 0) std::abort();  // an object outlived its last reference
  return 0;
}
