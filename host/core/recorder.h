// What went through the development host, kept as bounded histories for tests and
// the host controls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace Kavren::Host {

/// One call of the host's Log function.
struct LogLine {
  std::int32_t level;
  std::string message;

  friend bool operator==(const LogLine&, const LogLine&) = default;
};

/// One event that went through the host: published by the plugin, or sent to
/// the plugin by the host itself.
struct PublishedEvent {
  /// "plugin" or "host".
  std::string origin;
  std::string name;
  /// The payload as compact JSON.
  std::string payloadJson;
  std::int32_t flag;
  /// How many subscriptions received it.
  std::size_t delivered;
};

/// One session invoke of the plugin and the host's answer.
struct Invocation {
  std::string service;
  std::string method;
  /// The argument list as compact JSON.
  std::string argumentsJson;
  /// 200 on success, else the chosen error status.
  std::int32_t status;
  /// Empty on success.
  std::string errorText;
};

/// How often the plugin called each host function.
struct HostCallCounts {
  std::uint32_t call = 0;
  std::uint32_t reserved = 0;
  std::uint32_t publishEvent = 0;
  std::uint32_t subscribe = 0;
  std::uint32_t unsubscribe = 0;
  std::uint32_t scheduleJob = 0;
  std::uint32_t pump = 0;
  std::uint32_t beginWait = 0;
  std::uint32_t endWait = 0;
  std::uint32_t log = 0;
};

/// The last `limit` entries of one kind; older ones are dropped and counted.
template <class Entry>
class BoundedHistory {
 public:
  explicit BoundedHistory(std::size_t limit) : limit_(limit) {}
  void Add(Entry entry) {
    if (limit_ == 0) {
      ++dropped_;
      return;
    }
    if (entries_.size() == limit_) {
      entries_.pop_front();
      ++dropped_;
    }
    entries_.push_back(std::move(entry));
  }
  [[nodiscard]] std::vector<Entry> Copy() const { return {entries_.begin(), entries_.end()}; }
  [[nodiscard]] std::uint64_t Dropped() const { return dropped_; }

 private:
  std::size_t limit_;
  std::deque<Entry> entries_;
  std::uint64_t dropped_ = 0;
};

/// Thread-safe record of the host's traffic. Each history keeps its last `limit`
/// entries, so a long-running server holds a bounded amount.
class Recorder {
 public:
  static constexpr std::size_t kDefaultLimit = 10000;

  explicit Recorder(std::size_t limit = kDefaultLimit)
      : log_(limit), events_(limit), invocations_(limit), waitLabels_(limit), jobLabels_(limit) {}

  void AddLog(const LogLine& line);
  void AddEvent(const PublishedEvent& event);
  void AddInvocation(const Invocation& invocation);
  void AddWaitLabel(const std::string& label);
  void AddJobLabel(const std::string& label);
  /// Counts one call of a host function: `counter` points into a HostCallCounts.
  void Count(std::uint32_t HostCallCounts::*counter);

  [[nodiscard]] std::vector<LogLine> LogLines() const;
  [[nodiscard]] std::vector<PublishedEvent> Events() const;
  [[nodiscard]] std::vector<Invocation> Invocations() const;
  [[nodiscard]] std::vector<std::string> WaitLabels() const;
  [[nodiscard]] std::vector<std::string> JobLabels() const;
  [[nodiscard]] HostCallCounts CallCounts() const;

 private:
  // Guards every history and the counts.
  mutable std::mutex mutex_;
  BoundedHistory<LogLine> log_;
  BoundedHistory<PublishedEvent> events_;
  BoundedHistory<Invocation> invocations_;
  BoundedHistory<std::string> waitLabels_;
  BoundedHistory<std::string> jobLabels_;
  HostCallCounts counts_;
};

}  // namespace Kavren::Host
