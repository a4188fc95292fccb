// The oracle's rules.
#include "host/validate/oracle.h"

#include <algorithm>

#include "abi/value.h"

namespace Kavren::Host {
namespace {

// A run that goes wrong tends to go wrong many times; the first findings say it.
constexpr std::size_t kMaxFindings = 40;

std::string Number(std::uint64_t value) { return std::to_string(value); }

}  // namespace

void Oracle::Report(const std::string& kind, const std::string& message) {
  std::lock_guard lock(mutex_);
  if (findings_.size() >= kMaxFindings) return;
  // The same rule broken again with other numbers says nothing new.
  const auto gist = [](const std::string& text) { return text.substr(0, text.find(" (")); };
  for (const Finding& finding : findings_) {
    if (finding.kind == kind && gist(finding.message) == gist(message)) return;
  }
  findings_.push_back(Finding{kind, message});
}

std::vector<Finding> Oracle::Findings() const {
  std::lock_guard lock(mutex_);
  return findings_;
}

bool Oracle::Failed() const {
  std::lock_guard lock(mutex_);
  return !findings_.empty();
}

bool Oracle::Has(const std::string& kind) const {
  std::lock_guard lock(mutex_);
  return std::any_of(findings_.begin(), findings_.end(),
                     [&](const Finding& finding) { return finding.kind == kind; });
}

void Oracle::Sample(const Abi::PluginMemoryStats& stats) {
  std::optional<Abi::PluginMemoryStats> previous;
  {
    std::lock_guard lock(mutex_);
    previous = last_;
    last_ = stats;
  }
  const auto problem = [&](const std::string& message) {
    Report(FindingKind::kMemoryCounters,
           message + " (peakBytes " + Number(stats.peakBytes) + ", peakBlocks " +
               Number(stats.peakBlocks) + ", allocatedBytes " + Number(stats.allocatedBytes) +
               ", allocations " + Number(stats.allocations) + ", freedBytes " +
               Number(stats.freedBytes) + ", frees " + Number(stats.frees) + ")");
  };
  if (stats.reserved0 != 0 || stats.reserved1 != 0) problem("a reserved word is not 0");
  // Within one sample the counters are read one by one, so only bounds that hold
  // whatever happened between the reads are checked against the same sample.
  if (stats.peakBytes > stats.allocatedBytes && previous &&
      stats.peakBytes > previous->allocatedBytes) {
    problem("peakBytes exceeds the bytes ever allocated");
  }
  if (!previous) return;
  const Abi::PluginMemoryStats& before = *previous;
  const std::pair<const char*, std::pair<std::uint64_t, std::uint64_t>> monotonic[] = {
      {"peakBytes", {before.peakBytes, stats.peakBytes}},
      {"allocatedBytes", {before.allocatedBytes, stats.allocatedBytes}},
      {"allocations", {before.allocations, stats.allocations}},
      {"freedBytes", {before.freedBytes, stats.freedBytes}},
      {"frees", {before.frees, stats.frees}}};
  for (const auto& [name, values] : monotonic) {
    if (values.second < values.first) {
      problem(std::string(name) + " decreased from " + Number(values.first));
    }
  }
  if (before.peakBytes > stats.allocatedBytes) {
    problem("peakBytes " + Number(before.peakBytes) + " exceeds the bytes ever allocated");
  }
  if (before.peakBlocks > stats.allocations) {
    problem("peakBlocks " + Number(before.peakBlocks) + " exceeds the allocations");
  }
  if (before.freedBytes > stats.allocatedBytes) {
    problem("more bytes freed (" + Number(before.freedBytes) + ") than ever allocated");
  }
  if (before.frees > stats.allocations) {
    problem("more frees (" + Number(before.frees) + ") than allocations");
  }
}

std::string CheckReply(const Abi::HttpResponseRecord& response) {
  const std::int32_t status = response.status;
  const char* errorText = response.errorText;
  if (response.release == nullptr) return "the reply has no release function";
  if (response.failed > 1) return "the reply's failed flag is " + std::to_string(response.failed);
  if (response.failed != 0) {
    if (errorText == nullptr || errorText[0] == '\0') return "a failed reply without a text";
    // 0: nothing set a status (a binding failure leaves it so).
    if (status != 0 && (status < 100 || status > 599)) {
      return "a failed reply with status " + std::to_string(status);
    }
  } else {
    if (errorText != nullptr) return "a successful reply with a failure text";
    if (status != 0 && (status < 100 || status > 599)) {
      return "a reply with status " + std::to_string(status);
    }
  }
  if (response.value.type > Abi::kHostValueStructure) {
    return "a reply value of type " + std::to_string(response.value.type);
  }
  if (response.format < 0 || response.format > 3) {
    return "a reply with body format " + std::to_string(response.format);
  }
  if ((response.streamRead == nullptr) != (response.streamRelease == nullptr)) {
    return "a reply with only one of its stream functions";
  }
  return "";
}

std::string CheckBindingFailure(const Abi::HttpResponseRecord& response,
                                const std::vector<std::string>& names) {
  const std::string text = response.errorText != nullptr ? response.errorText : "";
  std::string answered = "answered status " + std::to_string(response.status) +
                         (response.failed != 0 ? " \"" + text + "\"" : " as a success");
  if (response.failed == 0) return answered;
  if (response.status != 0 && response.status != 400) return answered;
  const bool named = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
    return text.find("'" + name + "'") != std::string::npos;
  });
  return named ? "" : answered;
}

}  // namespace Kavren::Host
