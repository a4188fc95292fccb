// Opening a plugin library and finding its export.
#include "host/core/plugin_library.h"

#include <dlfcn.h>

namespace Kavren::Host {

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

MaybeType<Failure> PluginLibrary::Open(const std::string& path) {
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
    load_ = nullptr;
  }
  // The plugin carries its own C++ runtime, which keeps a few process-lived
  // blocks (its exception pool); unmapping it would orphan them, so a plugin
  // library stays mapped once opened, as in the host application.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    return Failure{reason != nullptr ? reason : "cannot open " + path};
  }
  void* symbol = dlsym(handle_, Abi::kPluginExportName);
  if (symbol == nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
    return Failure{path + " does not export " + Abi::kPluginExportName};
  }
  load_ = reinterpret_cast<Abi::PluginLoadFunction>(symbol);
  return {};
}

}  // namespace Kavren::Host
