// Loads the built component library the way a host does and reports what it
// offers: its two entry points, the classes it creates and whether it can be
// unloaded afterwards. Exit status 0 when the library behaves as a module.
#include <dlfcn.h>

#include <cstdio>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "host/service_host.h"
#include "ivo/certificates_manager.h"
#include "ozo/module.h"
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
  void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "cannot load %s: %s\n", path, ::dlerror());
    return 2;
  }
  auto create = reinterpret_cast<ozoCreateObjectFn>(::dlsym(library, "ozoCreateObject"));
  auto canUnload = reinterpret_cast<ozoCanUnloadModuleFn>(::dlsym(library, "ozoCanUnloadModule"));
  if (!create || !canUnload) {
    std::fprintf(stderr, "%s does not export ozoCreateObject and ozoCanUnloadModule\n", path);
    return 2;
  }
  std::printf("loaded %s\n", path);
  PrintResult("ozoCanUnloadModule before any object", canUnload());
  int status = 0;
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
      ozo::IObject* object = nullptr;
      const ozo::result_t result = create(entry.classId, host.locatorAddress(), &object);
      PrintResult(entry.name, result);
      if (object) object->Release();
    }
  }
  const ozo::result_t unload = canUnload();
  PrintResult("ozoCanUnloadModule after releasing all", unload);
  if (unload != 0) status = 1;
  ::dlclose(library);
  return status;
}
