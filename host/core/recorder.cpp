// The development host's bounded record of its traffic.
#include "host/core/recorder.h"

namespace Kavren::Host {

void Recorder::AddLog(const LogLine& line) {
  std::lock_guard lock(mutex_);
  log_.Add(line);
}

void Recorder::AddEvent(const PublishedEvent& event) {
  std::lock_guard lock(mutex_);
  events_.Add(event);
}

void Recorder::AddInvocation(const Invocation& invocation) {
  std::lock_guard lock(mutex_);
  invocations_.Add(invocation);
}

void Recorder::AddWaitLabel(const std::string& label) {
  std::lock_guard lock(mutex_);
  waitLabels_.Add(label);
}

void Recorder::AddJobLabel(const std::string& label) {
  std::lock_guard lock(mutex_);
  jobLabels_.Add(label);
}

void Recorder::Count(std::uint32_t HostCallCounts::*counter) {
  std::lock_guard lock(mutex_);
  ++(counts_.*counter);
}

std::vector<LogLine> Recorder::LogLines() const {
  std::lock_guard lock(mutex_);
  return log_.Copy();
}

std::vector<PublishedEvent> Recorder::Events() const {
  std::lock_guard lock(mutex_);
  return events_.Copy();
}

std::vector<Invocation> Recorder::Invocations() const {
  std::lock_guard lock(mutex_);
  return invocations_.Copy();
}

std::vector<std::string> Recorder::WaitLabels() const {
  std::lock_guard lock(mutex_);
  return waitLabels_.Copy();
}

std::vector<std::string> Recorder::JobLabels() const {
  std::lock_guard lock(mutex_);
  return jobLabels_.Copy();
}

HostCallCounts Recorder::CallCounts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

}  // namespace Kavren::Host
