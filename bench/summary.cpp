// hxa-bench-summary: reads the JSON results of the benchmark programs and prints the
// comparison table against the peers as Markdown, each ratio with its spread, its target and a
// mark, in one column per ABI.
//
//   hxa-bench-summary [--noisy FILE] [--abi NAME] RESULT.json... [--abi NAME RESULT.json...]
//
// Ratios of speed are the peer's processor time divided by ours (higher is better): both
// run on one thread, and on a shared machine the wall clock mostly measures the others. The
// memory ratio is our bytes divided by the peer's (lower is better). Where a benchmark ran with
// repetitions, its fastest repetition by processor time is used: on a shared machine the
// others only ever add time, so the fastest run is the one least disturbed, and the figures
// of two runs of the table agree far better than their medians do.
//
// A benchmark's spread is how far its median repetition lies above its fastest, relative to
// the fastest; a ratio's spread is the sum of its two benchmarks' spreads. A row whose target
// lies within its spread of the figure is marked "within noise" rather than met or missed.
// --noisy FILE writes, for each benchmark of a row whose spread is above 10%, its ABI, program
// and name (tab-separated), so that the caller can run those again with more repetitions; results
// of a benchmark read from several files are pooled.
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A spread above this share asks for more repetitions.
constexpr double kNoisySpread = 0.10;

// One benchmark's figures: those of its fastest repetition by processor time (wall-clock and
// processor time in nanoseconds, its counters), every repetition's processor time, and the
// program that ran it.
struct Result {
  double nanoseconds = 0;
  double cpuNanoseconds = 0;
  std::map<std::string, double> counters;
  std::vector<double> repetitions;
  std::string program;
  std::string name;

  // How far the median repetition lies above the fastest, relative to the fastest.
  double Spread() const {
    if (repetitions.size() < 2 || cpuNanoseconds <= 0) return 0;
    std::vector<double> sorted = repetitions;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    const double median =
        sorted.size() % 2 != 0 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    return median / cpuNanoseconds - 1;
  }
};

using Results = std::map<std::string, Result>;

double NanosecondsPer(const std::string& unit) {
  if (unit == "us") return 1e3;
  if (unit == "ms") return 1e6;
  if (unit == "s") return 1e9;
  return 1;
}

// The program a results file came from: its name without folder and ".json".
std::string ProgramOf(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  const std::size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// Reads one program's results into `results`, keyed by benchmark name ("BM_ReadJson/0"),
// pooling the repetitions of a benchmark read before.
bool Load(const std::string& path, Results& results) {
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
    Result run;
    const double unit =
        NanosecondsPer(entry.HasMember("time_unit") ? entry["time_unit"].GetString() : "ns");
    run.nanoseconds = entry["real_time"].GetDouble() * unit;
    run.cpuNanoseconds =
        entry.HasMember("cpu_time") ? entry["cpu_time"].GetDouble() * unit : run.nanoseconds;
    for (const auto& member : entry.GetObject()) {
      if (member.value.IsNumber()) run.counters[member.name.GetString()] = member.value.GetDouble();
    }
    Result& kept = results[name];
    std::vector<double> repetitions = std::move(kept.repetitions);
    repetitions.push_back(run.cpuNanoseconds);
    if (repetitions.size() == 1 || run.cpuNanoseconds < kept.cpuNanoseconds) kept = run;
    kept.repetitions = std::move(repetitions);
    kept.program = ProgramOf(path);
    kept.name = name;
  }
  return true;
}

// One ABI's figure in a row: its ratios (or times), their spread and the benchmarks behind
// them.
struct Cell {
  std::vector<std::optional<double>> values;
  double spread = 0;
  std::vector<const Result*> sources;
};

// How a figure compares with its target.
enum class Mark { kMet, kMissed, kWithinNoise, kMissing };

class Table {
 public:
  explicit Table(const std::vector<std::pair<std::string, Results>>& abis) : abis_(abis) {
    std::string header = "| what | target |";
    std::string rule = "|---|---|";
    for (const auto& abi : abis_) {
      header += " " + abi.first + " |";
      rule += "---|";
    }
    std::printf("%s\n%s\n", header.c_str(), rule.c_str());
  }

  // Peer processor time over ours for each argument in `arguments`.
  void SpeedRow(const std::string& label, const std::string& ours, const std::string& peer,
                const std::vector<int>& arguments, double target) {
    Row(label, "≥ " + Number(target), target, true, [&](const Results& results) {
      Cell cell;
      for (int argument : arguments) {
        const Result* mine = Find(results, ours, argument);
        const Result* theirs = Find(results, peer, argument);
        cell.values.push_back(Ratio(cell, theirs, mine, &Result::cpuNanoseconds));
      }
      return cell;
    });
  }

  // Our counter over the peer's counter; lower is better. Counters do not vary between
  // repetitions, so the row has no spread.
  void BytesRow(const std::string& label, const std::string& ours, const std::string& peer,
                const std::vector<int>& arguments, const std::string& counter, double target) {
    Row(label, "≤ " + Number(target), target, false, [&](const Results& results) {
      Cell cell;
      for (int argument : arguments) {
        const Result* mine = Find(results, ours, argument);
        const Result* theirs = Find(results, peer, argument);
        std::optional<double> ratio;
        if (mine != nullptr && theirs != nullptr && mine->counters.count(counter) != 0 &&
            theirs->counters.count(counter) != 0 && theirs->counters.at(counter) > 0) {
          ratio = mine->counters.at(counter) / theirs->counters.at(counter);
        }
        cell.values.push_back(ratio);
      }
      return cell;
    });
  }

  // An absolute time in microseconds against a ceiling.
  void TimeRow(const std::string& label, const std::string& name, double ceilingMicroseconds) {
    Row(label + " (µs)", "≤ " + Number(ceilingMicroseconds), ceilingMicroseconds, false,
        [&](const Results& results) {
          Cell cell;
          const Result* result = Find(results, name, -1);
          cell.values.push_back(result != nullptr ? std::optional<double>(result->nanoseconds / 1e3)
                                                  : std::nullopt);
          if (result != nullptr) {
            cell.spread = result->Spread();
            cell.sources.push_back(result);
          }
          return cell;
        });
  }

  // Our time over another of ours (a floor); lower is better.
  void OverheadRow(const std::string& label, const std::string& ours, const std::string& floor,
                   double target) {
    Row(label, "≤ " + Number(target), target, false, [&](const Results& results) {
      Cell cell;
      const Result* mine = Find(results, ours, -1);
      const Result* base = Find(results, floor, -1);
      cell.values.push_back(Ratio(cell, mine, base, &Result::nanoseconds));
      return cell;
    });
  }

  // Per ABI, the rows missed and those within noise.
  const std::vector<int>& Missed() const { return missed_; }
  const std::vector<int>& WithinNoise() const { return withinNoise_; }
  // The benchmarks behind rows whose spread is above kNoisySpread.
  const std::set<std::string>& Noisy() const { return noisy_; }

 private:
  static const Result* Find(const Results& results, const std::string& name, int argument) {
    const auto found = results.find(argument < 0 ? name : name + "/" + std::to_string(argument));
    return found == results.end() ? nullptr : &found->second;
  }

  // `over` / `under` in the figure `time`, widening the cell's spread by both benchmarks'.
  static std::optional<double> Ratio(Cell& cell, const Result* over, const Result* under,
                                     double Result::*time) {
    if (over == nullptr || under == nullptr || under->*time <= 0) return std::nullopt;
    cell.spread = std::max(cell.spread, over->Spread() + under->Spread());
    cell.sources.push_back(over);
    cell.sources.push_back(under);
    return over->*time / under->*time;
  }

  static std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string result = text;
    while (result.back() == '0') result.pop_back();
    if (result.back() == '.') result.pop_back();
    return result;
  }

  // Met when every value meets the target; within noise when none misses it by more than
  // its spread.
  static Mark Judge(const Cell& cell, double target, bool higherIsBetter) {
    Mark mark = Mark::kMet;
    for (const auto& value : cell.values) {
      if (!value) return Mark::kMissing;
      const bool met = higherIsBetter ? *value >= target : *value <= target;
      if (met) continue;
      const double tolerance = *value * cell.spread;
      const bool close =
          higherIsBetter ? *value + tolerance >= target : *value - tolerance <= target;
      if (!close) return Mark::kMissed;
      mark = Mark::kWithinNoise;
    }
    return mark;
  }

  template <class Figures>
  void Row(const std::string& label, const std::string& targetText, double target,
           bool higherIsBetter, Figures figures) {
    missed_.resize(abis_.size());
    withinNoise_.resize(abis_.size());
    std::string line = "| " + label + " | " + targetText + " |";
    for (std::size_t abi = 0; abi < abis_.size(); ++abi) {
      const Cell cell = figures(abis_[abi].second);
      std::string text;
      for (const auto& value : cell.values) {
        if (!text.empty()) text += " / ";
        text += value ? Number(*value) : "n/a";
      }
      if (cell.spread > 0)
        text += " ±" + std::to_string(static_cast<int>(cell.spread * 100 + 0.5)) + "%";
      const Mark mark = Judge(cell, target, higherIsBetter);
      if (mark == Mark::kMissed || mark == Mark::kMissing) ++missed_[abi];
      if (mark == Mark::kWithinNoise) ++withinNoise_[abi];
      text += mark == Mark::kMet           ? " met"
              : mark == Mark::kWithinNoise ? " within noise"
                                           : " **missed**";
      line += " " + text + " |";
      if (cell.spread > kNoisySpread) {
        for (const Result* source : cell.sources) {
          noisy_.insert(abis_[abi].first + '\t' + source->program + '\t' + source->name);
        }
      }
    }
    std::printf("%s\n", line.c_str());
  }

  const std::vector<std::pair<std::string, Results>>& abis_;
  std::vector<int> missed_;
  std::vector<int> withinNoise_;
  std::set<std::string> noisy_;
};

// The rows of the table, against the targets the team holds.
void PrintRows(Table& table) {
  const std::vector<int> json = {0, 1, 2};
  const std::vector<int> yaml = {0, 1, 2, 3, 4};
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
  table.SpeedRow("WriteJson ÷ RapidJSON Writer", "BM_WriteJson", "BM_RapidJsonWriter", json, 1);
  table.SpeedRow("WriteJson ÷ RapidJSON Writer, full-precision Document", "BM_WriteJson",
                 "BM_RapidJsonWriterFullPrecision", json, 1);
  table.BytesRow("value bytes ÷ RapidJSON Document", "BM_ReadJson", "BM_RapidJsonDocumentParse",
                 json, "value_bytes", 1.5);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::pair<std::string, Results>> abis;
  std::string noisyPath;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--noisy") == 0 && i + 1 < argc) {
      noisyPath = argv[++i];
    } else if (std::strcmp(argv[i], "--abi") == 0 && i + 1 < argc) {
      abis.emplace_back(argv[++i], Results{});
    } else {
      if (abis.empty()) abis.emplace_back("now", Results{});
      if (!Load(argv[i], abis.back().second))
        std::fprintf(stderr, "hxa-bench-summary: cannot read %s\n", argv[i]);
    }
  }
  if (abis.empty()) abis.emplace_back("now", Results{});
  Table table(abis);
  PrintRows(table);
  std::printf(
      "\nJSON and MessagePack columns: canada / citm / twitter. YAML: appveyor / travis / "
      "maps block / maps flow / seqs block. ±: the spread of the repetitions (median over "
      "fastest).\n");
  for (std::size_t abi = 0; abi < abis.size(); ++abi) {
    std::printf("%s: %d row(s) missed, %d within noise.\n", abis[abi].first.c_str(),
                table.Missed()[abi], table.WithinNoise()[abi]);
  }
  if (!noisyPath.empty()) {
    std::ofstream noisy(noisyPath);
    for (const std::string& line : table.Noisy()) noisy << line << '\n';
  }
  return 0;
}
