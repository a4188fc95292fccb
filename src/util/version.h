// The plugin-API version record and the plugin type record, with their text forms.
#pragma once

#include <cstdint>
#include <string>

namespace Kavren {

/// A version of the plugin API. Only the three numbers cross the host boundary;
/// the labels are empty unless set.
struct PluginApiVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
  std::string prerelease;
  std::string build;

  friend bool operator==(const PluginApiVersion&, const PluginApiVersion&) = default;
};

/// "major.minor.patch", then "-prerelease" when that label is set, then "+build"
/// when that label is set; for example 18.0.0-beta+7.
std::string VersionText(const PluginApiVersion& version);

/// The kind of a plugin: a type name ("backend", "frontend") and a second text that
/// is copied along. Printed as "typeName:detail".
struct PluginType {
  std::string typeName;
  std::string detail;

  friend bool operator==(const PluginType&, const PluginType&) = default;
};

}  // namespace Kavren
