// Loads the built component library the way a host does and reports what it
// offers: its two entry points, the classes it creates and whether it can be
// unloaded afterwards. Exit status 0 when the library behaves as a module.
#include <cstdio>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "host/module.h"
#include "host/service_host.h"
#include "ivo/certificates_manager.h"
#include "ozo/result_messages.h"

namespace {

void PrintResult(const char* what, ozo::result_t result) {
  const auto message = ozo::GetResultMessage(result);
  std::printf("%-44s 0x%08x (%.*s)\n", what, static_cast<unsigned>(result), static_cast<int>(message.size()),
              message.data());
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "libcertificates_manager.so";
  host::Module library;
  std::string error;
  if (!library.Load(path, error)) {
    std::fprintf(stderr, "cannot load %s: %s\n", path, error.c_str());
    return 2;
  }
  std::printf("loaded %s\n", path);
  PrintResult("ozoCanUnloadModule before any object", library.CanUnload());
  {
    host::ServiceHost host;
    host.tracer().SetSink(
        [](std::uint32_t level, const std::string& text) { std::printf("  trace %u: %s\n", level, text.c_str()); });
    const struct {
      const char* name;
      ozo::clsid_t classId;
    } classes[] = {{"ClsIdCertificatesManager", ivo::ClsIdCertificatesManager},
                   {"ClsIdCertificatesManagerPersistentDataUpgrader",
                    app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader},
                   {"an unknown class id", 0x12345678}};
    for (const auto& entry : classes) {
      ozo::ref_ptr<ozo::IObject> object;
      PrintResult(entry.name, library.CreateObject(entry.classId, host.locatorAddress(), object));
    }
  }
  const ozo::result_t unload = library.CanUnload();
  PrintResult("ozoCanUnloadModule after releasing all", unload);
  return unload == 0 ? 0 : 1;
}
