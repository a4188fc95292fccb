// A plugin shared library opened by path, and its one export.
#pragma once

#include <string>

#include "abi/host.h"
#include "host/core/maybe.h"

namespace Kavren::Host {

/// Opens the library with dlopen and finds the export. Once opened, the library
/// stays mapped for the rest of the process; opening the same path again yields
/// the same mapping, so the plugin's process-wide state survives between loads.
class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  /// Opens `path`; fails with the loader's reason when the library or its export is
  /// missing (then nothing is open).
  [[nodiscard]] MaybeType<Failure> Open(const std::string& path);
  [[nodiscard]] bool IsOpen() const { return load_ != nullptr; }
  [[nodiscard]] Abi::PluginLoadFunction Export() const { return load_; }

 private:
  void* handle_ = nullptr;
  Abi::PluginLoadFunction load_ = nullptr;
};

}  // namespace Kavren::Host
