// Opening a plugin library and finding its export.
#include "host/plugin_library.h"

#include <dlfcn.h>

namespace Kavren::Host {

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool PluginLibrary::Open(const std::string& path) {
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
    error_ = reason != nullptr ? reason : "cannot open " + path;
    return false;
  }
  void* symbol = dlsym(handle_, Abi::kPluginExportName);
  if (symbol == nullptr) {
    error_ = path + " does not export " + Abi::kPluginExportName;
    dlclose(handle_);
    handle_ = nullptr;
    return false;
  }
  load_ = reinterpret_cast<Abi::PluginLoadFunction>(symbol);
  error_.clear();
  return true;
}

}  // namespace Kavren::Host
