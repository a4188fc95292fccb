// Replays saved inputs through one target's check without libFuzzer: each argument is a
// file or a folder (walked recursively, in name order). A `.shape` file names a hostile
// shape and its scale, and the generated input is replayed instead of the file's bytes.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "adversarial_inputs.h"
#include "fuzz_check.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void Replay(const fs::path& path) {
  std::string input = ReadFile(path);
  if (path.extension() == ".shape") {
    std::optional<std::string> expanded = Kavren::Fuzz::ExpandShapeText(input);
    if (!expanded) Kavren::Fuzz::Fail(path.string() + " names no shape");
    input = std::move(*expanded);
  }
  std::printf("replaying %s (%zu bytes)\n", path.string().c_str(), input.size());
  std::fflush(stdout);
  Kavren::Fuzz::CheckInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", argv[0]);
    return 2;
  }
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path argument = argv[i];
    std::vector<fs::path> files;
    if (fs::is_directory(argument)) {
      for (const auto& entry : fs::recursive_directory_iterator(argument)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(argument)) {
      files.push_back(argument);
    } else {
      std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
      return 2;
    }
    for (const fs::path& file : files) {
      Replay(file);
      ++replayed;
    }
  }
  std::printf("%zu inputs replayed\n", replayed);
  return 0;
}
