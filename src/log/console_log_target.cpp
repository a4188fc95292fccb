// Console targets: render into a stack buffer, then write under the target's lock.
#include "log/console_log_target.h"

#include <cstdio>

#include "log/messages.h"

namespace Kavren {

const char* BaseConsoleLogTarget::GetName() const noexcept {
  return detail::kBaseConsoleLogTargetName;
}

void BaseConsoleLogTarget::Flush() noexcept {
  std::lock_guard lock(mutex_);
  try {
    DoFlush();
  } catch (...) {
    // Logging never fails towards its caller.
  }
}

StdErrLogTarget::~StdErrLogTarget() { Detach(); }

const char* StdErrLogTarget::GetName() const noexcept { return detail::kStdErrLogTargetName; }

bool StdErrLogTarget::DoWrite(const LogRecord& record) {
  char line[kLogBufferSize];
  RenderLine(record, line, sizeof line);
  std::fputs(line, stderr);
  return true;
}

void StdErrLogTarget::DoFlush() { std::fflush(stderr); }

StdOutLogTarget::~StdOutLogTarget() { Detach(); }

const char* StdOutLogTarget::GetName() const noexcept { return detail::kStdOutLogTargetName; }

void StdOutLogTarget::SetFlushEachLine(bool flush) noexcept {
  std::lock_guard lock(mutex_);
  flushEachLine_ = flush;
}

bool StdOutLogTarget::GetFlushEachLine() const noexcept {
  std::lock_guard lock(mutex_);
  return flushEachLine_;
}

bool StdOutLogTarget::DoWrite(const LogRecord& record) {
  char line[kLogBufferSize];
  RenderLine(record, line, sizeof line);
  std::fputs(line, stdout);
  if (flushEachLine_) std::fflush(stdout);
  return true;
}

void StdOutLogTarget::DoFlush() { std::fflush(stdout); }

DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() { Detach(); }

const char* DebuggerConsoleLogTarget::GetName() const noexcept {
  return detail::kDebuggerConsoleLogTargetName;
}

bool DebuggerConsoleLogTarget::DoWrite(const LogRecord& record) {
  char line[kLogBufferSize];
  RenderLine(record, line, sizeof line);
  Platform::DebuggerOutput(line);
  return true;
}

void DebuggerConsoleLogTarget::DoFlush() {}

}  // namespace Kavren
