// hxa-bench-summary: reads the JSON results of the benchmark programs and prints the
// comparison table against the peers as Markdown, each ratio with its target and a mark.
//
//   hxa-bench-summary RESULT.json...
//
// Ratios of speed are the peer's processor time divided by ours (higher is better): both
// run on one thread, and on a shared machine the wall clock mostly measures the others. The
// memory ratio is our bytes divided by the peer's (lower is better). Where a benchmark ran with
// repetitions, its fastest repetition by processor time is used: on a shared machine the
// others only ever add time, so the fastest run is the one least disturbed, and the figures
// of two runs of the table agree far better than their medians do.
#include <rapidjson/document.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One benchmark's figures: wall-clock and processor time in nanoseconds, and its counters.
struct Result {
  double nanoseconds = 0;
  double cpuNanoseconds = 0;
  std::map<std::string, double> counters;
};

double NanosecondsPer(const std::string& unit) {
  if (unit == "us") return 1e3;
  if (unit == "ms") return 1e6;
  if (unit == "s") return 1e9;
  return 1;
}

// Reads one program's results into `results`, keyed by benchmark name ("BM_ReadJson/0").
bool Load(const std::string& path, std::map<std::string, Result>& results) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream bytes;
  bytes << file.rdbuf();
  rapidjson::Document document;
  document.Parse(bytes.str().c_str());
  if (document.HasParseError() || !document.IsObject() || !document.HasMember("benchmarks")) {
    return false;
  }
  for (const auto& entry : document["benchmarks"].GetArray()) {
    if (!entry.HasMember("run_name") || !entry.HasMember("real_time")) continue;
    const std::string runType = entry.HasMember("run_type") ? entry["run_type"].GetString() : "";
    if (runType == "aggregate") continue;
    const std::string name = entry["run_name"].GetString();
    Result result;
    const double unit =
        NanosecondsPer(entry.HasMember("time_unit") ? entry["time_unit"].GetString() : "ns");
    result.nanoseconds = entry["real_time"].GetDouble() * unit;
    result.cpuNanoseconds =
        entry.HasMember("cpu_time") ? entry["cpu_time"].GetDouble() * unit : result.nanoseconds;
    for (const auto& member : entry.GetObject()) {
      if (member.value.IsNumber())
        result.counters[member.name.GetString()] = member.value.GetDouble();
    }
    const auto kept = results.find(name);
    if (kept == results.end() || result.cpuNanoseconds < kept->second.cpuNanoseconds) {
      results[name] = result;
    }
  }
  return true;
}

class Table {
 public:
  explicit Table(const std::map<std::string, Result>& results) : results_(results) {}

  // Peer processor time over ours for each argument in `arguments`, or "n/a" where one is
  // missing.
  void SpeedRow(const std::string& label, const std::string& ours, const std::string& peer,
                const std::vector<int>& arguments, double target) {
    std::vector<std::optional<double>> ratios;
    for (int argument : arguments) {
      const Result* mine = Find(ours, argument);
      const Result* theirs = Find(peer, argument);
      ratios.push_back(mine != nullptr && theirs != nullptr && mine->cpuNanoseconds > 0
                           ? std::optional<double>(theirs->cpuNanoseconds / mine->cpuNanoseconds)
                           : std::nullopt);
    }
    Row(label, ratios, "≥ " + Number(target), [target](double r) { return r >= target; });
  }

  // Our counter over the peer's counter; lower is better.
  void BytesRow(const std::string& label, const std::string& ours, const std::string& peer,
                const std::vector<int>& arguments, const std::string& counter, double target) {
    std::vector<std::optional<double>> ratios;
    for (int argument : arguments) {
      const Result* mine = Find(ours, argument);
      const Result* theirs = Find(peer, argument);
      std::optional<double> ratio;
      if (mine != nullptr && theirs != nullptr && mine->counters.count(counter) != 0 &&
          theirs->counters.count(counter) != 0 && theirs->counters.at(counter) > 0) {
        ratio = mine->counters.at(counter) / theirs->counters.at(counter);
      }
      ratios.push_back(ratio);
    }
    Row(label, ratios, "≤ " + Number(target), [target](double r) { return r <= target; });
  }

  // An absolute time in microseconds against a ceiling.
  void TimeRow(const std::string& label, const std::string& name, double ceilingMicroseconds) {
    const Result* result = Find(name, -1);
    std::optional<double> time;
    if (result != nullptr) time = result->nanoseconds / 1e3;
    Row(label + " (µs)", {time}, "≤ " + Number(ceilingMicroseconds),
        [ceilingMicroseconds](double t) { return t <= ceilingMicroseconds; });
  }

  // Our time over another of ours (a floor); lower is better.
  void OverheadRow(const std::string& label, const std::string& ours, const std::string& floor,
                   double target) {
    const Result* mine = Find(ours, -1);
    const Result* base = Find(floor, -1);
    std::optional<double> ratio;
    if (mine != nullptr && base != nullptr && base->nanoseconds > 0) {
      ratio = mine->nanoseconds / base->nanoseconds;
    }
    Row(label, {ratio}, "≤ " + Number(target), [target](double r) { return r <= target; });
  }

  int Missed() const { return missed_; }

 private:
  const Result* Find(const std::string& name, int argument) const {
    const auto found = results_.find(argument < 0 ? name : name + "/" + std::to_string(argument));
    return found == results_.end() ? nullptr : &found->second;
  }

  static std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string result = text;
    while (result.back() == '0') result.pop_back();
    if (result.back() == '.') result.pop_back();
    return result;
  }

  template <class Met>
  void Row(const std::string& label, const std::vector<std::optional<double>>& values,
           const std::string& target, Met met) {
    std::string figures;
    bool all = true;
    for (const auto& value : values) {
      if (!figures.empty()) figures += " / ";
      if (!value) {
        figures += "n/a";
        all = false;
        continue;
      }
      figures += Number(*value);
      if (!met(*value)) all = false;
    }
    if (!all) ++missed_;
    std::printf("| %s | %s | %s | %s |\n", label.c_str(), figures.c_str(), target.c_str(),
                all ? "met" : "**missed**");
  }

  const std::map<std::string, Result>& results_;
  int missed_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, Result> results;
  for (int i = 1; i < argc; ++i) {
    if (!Load(argv[i], results))
      std::fprintf(stderr, "hxa-bench-summary: cannot read %s\n", argv[i]);
  }
  const std::vector<int> json = {0, 1, 2};
  const std::vector<int> yaml = {0, 1, 2, 3, 4};
  Table table(results);
  std::printf("| what | now | target | |\n|---|---|---|---|\n");
  table.TimeRow("GET round trip", "BM_GetRoundTrip", 1.5);
  table.OverheadRow("GET round trip ÷ its floor", "BM_GetRoundTrip", "BM_GetFloor", 1.3);
  table.TimeRow("DELETE round trip", "BM_DeleteRoundTrip", 1.2);
  table.SpeedRow("ReadJson ÷ RapidJSON SAX, null handler", "BM_ReadJson", "BM_RapidJsonSaxNull",
                 json, 0.5);
  table.SpeedRow("ReadJson ÷ RapidJSON `Document::Parse`", "BM_ReadJson",
                 "BM_RapidJsonDocumentParse", json, 0.8);
  table.SpeedRow("ReadJson ÷ RapidJSON `Document::Parse`, full precision", "BM_ReadJson",
                 "BM_RapidJsonDocumentParseFullPrecision", json, 0.8);
  table.SpeedRow("ReadJson ÷ nlohmann", "BM_ReadJson", "BM_NlohmannParse", json, 4);
  table.SpeedRow("ReadMessagePack ÷ msgpack-cxx unpack", "BM_ReadMessagePack",
                 "BM_MsgpackCxxUnpack", json, 0.5);
  table.SpeedRow("ReadYaml ÷ libyaml event loop", "BM_ReadYaml", "BM_LibyamlEvents", yaml, 0.8);
  table.SpeedRow("WriteJson ÷ RapidJSON Writer", "BM_WriteJson", "BM_RapidJsonWriter", json, 0.8);
  table.BytesRow("value bytes ÷ RapidJSON Document", "BM_ReadJson", "BM_RapidJsonDocumentParse",
                 json, "value_bytes", 1.5);
  std::printf(
      "\nJSON and MessagePack columns: canada / citm / twitter. YAML: appveyor / travis / "
      "maps block / maps flow / seqs block.\n");
  std::printf("%d row(s) missed.\n", table.Missed());
  return 0;
}
