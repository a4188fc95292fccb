// hxa-host describe: loads a plugin without starting it and prints its API block's
// description.
#include "host/describe/describe.h"

#include "host/core/development_host.h"
#include "host/core/plugin_library.h"
#include "host/describe/api_help.h"
#include "host/describe/asyncapi.h"
#include "host/describe/openapi.h"

namespace Kavren::Host {
namespace {

constexpr char kUnknownFormat[] = "unknown format '%s' (openapi, asyncapi, native or epytext)";
constexpr char kNoFunctionTable[] = "the plugin's export returned no function table";

std::string Describe(const Abi::PluginHostRecord& record, const std::string& format) {
  if (format == "openapi") return OpenApiDocument(record);
  if (format == "asyncapi") return AsyncApiDocument(record);
  rapidjson::Document help;
  const ApiDescription api = ReadApiDescription(record.api);
  if (format == "native") {
    NativeHelp(api, help);
  } else {
    EpytextHelp(api, help);
  }
  return JsonText(help);
}

bool KnownFormat(const std::string& format) {
  return format == "openapi" || format == "asyncapi" || format == "native" || format == "epytext";
}

int UnknownFormat(const std::string& format, std::FILE* err) {
  std::fprintf(err, "hxa-host: ");
  std::fprintf(err, kUnknownFormat, format.c_str());
  std::fprintf(err, "\n");
  return 2;
}

}  // namespace

int RunDescribe(const std::string& pluginPath, const std::string& format, std::FILE* out,
                std::FILE* err) {
  if (!KnownFormat(format)) return UnknownFormat(format, err);
  PluginLibrary library;
  const MaybeType<Failure> opened = library.Open(pluginPath);
  if (opened.Failed()) {
    std::fprintf(err, "hxa-host: %s\n", opened.GetFailure().message.c_str());
    return 1;
  }
  return RunDescribe(library, CoreVersion{}, format, out, err);
}

int RunDescribe(const PluginLibrary& library, CoreVersion version, const std::string& format,
                std::FILE* out, std::FILE* err) {
  if (!KnownFormat(format)) return UnknownFormat(format, err);
  // No job ever runs: the plugin is loaded and stopped, never started.
  DevelopmentHost host(0x484F5354, 0);
  if (!host.Load(library, version)) {
    std::fprintf(err, "hxa-host: %s\n", kNoFunctionTable);
    return 1;
  }
  const std::string text = Describe(host.Record(), format);
  host.Stop();
  std::fprintf(out, "%s\n", text.c_str());
  std::fflush(out);
  return 0;
}

}  // namespace Kavren::Host
