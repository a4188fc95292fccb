// ReadYaml beside a bare libyaml event loop (the floor) and, where it is built, yaml-cpp's Load.
#include <benchmark/benchmark.h>
#include <yaml.h>
#if HXA_BENCH_YAML_CPP
#include <yaml-cpp/yaml.h>
#endif

#include <fstream>
#include <sstream>
#include <string>

#include "formats/yaml.h"

namespace {

const char* const kCorpora[] = {
    "appveyor.yml", "travis.yml", "style_maps_blck_outer1000_inner100.yml",
    "style_maps_flow_outer1000_inner100.yml", "style_seqs_blck_outer1000_inner100.yml"};

const std::string& Corpus(std::size_t index) {
  static std::string texts[5];
  if (texts[index].empty()) {
    std::ifstream file(std::string(HXA_DATA_DIR) + "/corpora/yaml/" + kCorpora[index],
                       std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    texts[index] = bytes.str();
  }
  return texts[index];
}

void Label(benchmark::State& state) {
  state.SetLabel(kCorpora[state.range(0)]);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * Corpus(state.range(0)).size()));
}

void BM_ReadYaml(benchmark::State& state) {
  const std::string& text = Corpus(state.range(0));
  for (auto _ : state) {
    Kavren::BindingResult result = Kavren::ReadYaml(text);
    if (!result.ok) state.SkipWithError(result.ErrorText().c_str());
    benchmark::DoNotOptimize(result.ok);
  }
  Label(state);
}

void BM_LibyamlEvents(benchmark::State& state) {
  const std::string& text = Corpus(state.range(0));
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_event_t event;
    yaml_parser_initialize(&parser);
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    std::size_t events = 0;
    while (yaml_parser_parse(&parser, &event) != 0) {
      const bool end = event.type == YAML_STREAM_END_EVENT;
      yaml_event_delete(&event);
      ++events;
      if (end) break;
    }
    yaml_parser_delete(&parser);
    benchmark::DoNotOptimize(events);
  }
  Label(state);
}

#if HXA_BENCH_YAML_CPP
void BM_YamlCppLoad(benchmark::State& state) {
  const std::string& text = Corpus(state.range(0));
  for (auto _ : state) {
    YAML::Node node = YAML::Load(text);
    benchmark::DoNotOptimize(node.size());
  }
  Label(state);
}
#endif

BENCHMARK(BM_ReadYaml)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibyamlEvents)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
#if HXA_BENCH_YAML_CPP
BENCHMARK(BM_YamlCppLoad)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
