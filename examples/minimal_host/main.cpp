// A minimal host: it writes the services a product usually has its own of
// (tracing, events, policy) and takes the storage services (allocator, tree
// store, serializer, structure descriptors, storage lock) from the reference
// host. It loads the module (host::Module: dlopen and its two entry points),
// sets a server certificate, prints it as JSON and prints the events the
// module published.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "host/host_object.h"
#include "host/module.h"
#include "host/service_host.h"
#include "ivo/certificates_manager.h"
#include "ivo/events.h"
#include "ivo/policy.h"
#include "ozo/services.h"

namespace {

// Records up to $MINIMAL_HOST_TRACE (300: errors, 800: all; none by
// default) go to stderr. The host allocates each record's buffer and frees it.
class Tracer : public host::HostObject<ozo::ITracer> {
 public:
  ozo::result_t ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) override {
    const char* wanted = std::getenv("MINIMAL_HOST_TRACE");
    const std::uint32_t threshold = wanted ? static_cast<std::uint32_t>(std::atoi(wanted)) : 0;
    if (!buffer || (!*buffer && level > threshold)) return ozo::results::False;  // not wanted: no record
    char* grown = static_cast<char*>(std::realloc(*buffer, size));
    if (!grown) return ozo::results::OutOfMemory;
    *buffer = grown;
    return ozo::results::NoError;
  }
  ozo::result_t CommitBuffer(char* buffer, std::size_t length) override {
    std::fprintf(stderr, "trace: %.*s\n", static_cast<int>(length), buffer);
    std::free(buffer);
    return ozo::results::NoError;
  }
};

class EventPrinter : public host::HostObject<ivo::IEventPublisher> {
 public:
  ozo::result_t Publish(const ivo::CertificateEvent* event) override {
    std::printf("event %u:", event->eventType);
    for (const ivo::RuntimeField& field : event->fields)
      if (field.name == ivo::event_field::Subject) std::printf(" subject %s", field.data.string8().c_str());
    std::printf("\n");
    return ozo::results::NoError;
  }
};

// Allows every change: this host has no policy.
class OpenPolicy : public host::HostObject<ivo::IPolicyProvider> {
 public:
  ozo::result_t IsSettingLocked(std::uint32_t, bool& locked) override {
    locked = false;
    return ozo::results::NoError;
  }
  ozo::result_t SetSettingLocked(std::uint32_t, bool) override { return ozo::results::NotImplemented; }
  ozo::result_t CheckChangePermission(const ivo::PolicyChangeQuery*, ozo::string16_t*) override {
    return ozo::results::NoError;
  }
};

// Hands out this host's own services and the reference host's storage ones.
class Locator : public host::HostObject<ozo::IServiceLocator> {
 public:
  explicit Locator(ozo::IServiceLocator* storage) : m_storage(storage) {}
  ozo::result_t GetInterface(ozo::iid_t iid, std::uint32_t key, void** out) override {
    ozo::IObject* own = iid == ozo::ITracer::IID           ? static_cast<ozo::IObject*>(m_tracer.get())
                        : iid == ivo::IEventPublisher::IID ? static_cast<ozo::IObject*>(m_events.get())
                        : iid == ivo::IPolicyProvider::IID ? static_cast<ozo::IObject*>(m_policy.get())
                                                           : nullptr;
    if (!own) return m_storage->GetInterface(iid, key, out);
    if (!out || key != 0) return ozo::results::InvalidArgument;
    own->AddRef();
    *out = own;
    return ozo::results::NoError;
  }

 private:
  ozo::IServiceLocator* m_storage;
  ozo::ref_ptr<Tracer> m_tracer = host::Make<Tracer>();
  ozo::ref_ptr<EventPrinter> m_events = host::Make<EventPrinter>();
  ozo::ref_ptr<OpenPolicy> m_policy = host::Make<OpenPolicy>();
};

int Fail(const char* what, ozo::result_t result) {
  std::fprintf(stderr, "%s failed: 0x%08x\n", what, static_cast<unsigned>(result));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: minimal_host SERVER-CERTIFICATE (DER or PEM)\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), {});
  if (bytes.empty()) return std::fprintf(stderr, "cannot read %s\n", argv[1]), 2;

  host::Module module;
  std::string error;
  if (!module.Load(MODULE_PATH, error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;

  int status = 0;
  {
    host::ServiceHost storage;  // an in-memory store; host::SqliteStore keeps one on disk
    ozo::ref_ptr<Locator> locator = host::Make<Locator>(storage.locator());
    ozo::IServiceLocator* locatorPointer = locator.get();
    ozo::ref_ptr<ivo::ICertificatesManager> manager;
    ozo::result_t result = module.Create(ivo::ClsIdCertificatesManager, &locatorPointer, manager);
    if (ozo::Failed(result)) return Fail("creating the certificates manager", result);

    ivo::ChangeInitiator initiator;
    initiator.kind = ivo::ChangeInitiator::Product;
    const ivo::ServerCertificate record{ozo::blob_t(bytes.data(), bytes.size())};
    result = manager->SetServerCertificate(ivo::CertificateTypeZepaEdr, record, initiator);
    std::printf("set server certificate of type %u: 0x%08x\n", ivo::CertificateTypeZepaEdr,
                static_cast<unsigned>(result));
    ozo::string8_t json;
    if (ozo::Failed(result) || manager->QueryServerCertificate(ivo::CertificateTypeZepaEdr, json) != 0)
      status = Fail("setting and querying the certificate", result);
    else
      std::printf("%s", json.c_str());
  }
  return status;  // the module is closed with `module`, now that nothing of it is alive
}
