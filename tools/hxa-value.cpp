// hxa-value: reads a value with the plugin's JSON, YAML or MessagePack reader and prints
// it as JSON with the plugin's writer.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <iterator>
#include <new>
#include <string>

#include "formats/json.h"
#include "formats/messages.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"

namespace {

// The exit statuses, as the --help footer lists them.
constexpr int kExitSuccess = 0;
constexpr int kExitUnreadable = 1;
constexpr int kExitUsage = 2;

// The whole input as bytes: the file, or standard input for "-".
bool ReadInput(const std::string& path, std::string& bytes) {
  std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  const bool ok = std::ferror(file) == 0;
  if (file != stdin) std::fclose(file);
  return ok;
}

Kavren::BindingResult ReadValue(const std::string& from, const std::string& bytes) {
  const bool messagePack = from == "msgpack" || (from == "auto" && Kavren::IsMessagePackData(
                                                                       bytes.data(), bytes.size()));
  if (messagePack) {
    std::size_t consumed = 0;
    Kavren::BindingResult result = Kavren::ReadMessagePack(bytes.data(), bytes.size(), consumed);
    if (result.ok && consumed != bytes.size()) {
      result.Fail(Kavren::FormatMessages::kMessagePackExtraData);
    }
    return result;
  }
  if (from == "yaml" || (from == "auto" && Kavren::IsYamlText(bytes))) {
    return Kavren::ReadYaml(bytes);
  }
  return Kavren::ReadJson(bytes);
}

int Run(int argc, char** argv) {
  CLI::App app{"Reads a JSON, YAML or MessagePack value and prints it as JSON."};
  app.footer("Exit status: 0 success; 1 the input cannot be read or parsed; 2 usage error.");
  std::string from = "auto";
  bool pretty = false;
  std::string newline = "\n";
  std::string path = "-";
  app.add_option("--from", from,
                 "Input format; auto reads MessagePack when the input starts with a container, "
                 "YAML when it starts with ---, otherwise JSON")
      ->check(CLI::IsMember({"json", "yaml", "msgpack", "auto"}))
      ->capture_default_str();
  app.add_flag("--pretty", pretty, "Indented output (4 spaces per level)");
  app.add_option("--newline", newline, "Line break of the indented output (default: LF)");
  app.add_option("FILE", path, "Input file; - reads standard input")->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // The parser's own codes (100 and up) say which rule was broken; every one of them
    // is a usage error.
    return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
  }

  std::string bytes;
  if (!ReadInput(path, bytes)) {
    std::cerr << "hxa-value: cannot read " << path << "\n";
    return kExitUnreadable;
  }
  const Kavren::BindingResult result = ReadValue(from, bytes);
  if (!result.ok) {
    std::cerr << result.ErrorText() << "\n";
    return kExitUnreadable;
  }
  std::cout << Kavren::WriteJson(result.value, nullptr, pretty ? newline.c_str() : nullptr) << "\n";
  return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Never a bare exception name: the input needs more memory than there is.
    std::cerr << "Error: Out of memory.\n";
    return kExitUnreadable;
  } catch (const std::exception& error) {
    std::cerr << "Error: " << error.what() << "\n";
    return kExitUnreadable;
  }
}
