// The console family of log targets: standard error, standard output, debugger.
#pragma once

#include "log/log_target.h"

namespace Kavren {

/// A target that writes rendered lines to a console-like stream.
class BaseConsoleLogTarget : public LogTarget {
 public:
  [[nodiscard]] const char* GetName() const noexcept override;
  /// Flushes the stream under the target's lock.
  void Flush() noexcept;

 protected:
  BaseConsoleLogTarget() noexcept = default;
  /// Flushes the stream; called with the target's lock held.
  virtual void DoFlush() = 0;
};

/// Writes each rendered line to standard error.
class StdErrLogTarget final : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget() noexcept = default;
  ~StdErrLogTarget() override;
  [[nodiscard]] const char* GetName() const noexcept override;

 protected:
  bool DoWrite(const LogRecord& record) override;
  void DoFlush() override;
};

/// Writes each rendered line to standard output, flushing after each line
/// when asked to.
class StdOutLogTarget final : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget() noexcept = default;
  ~StdOutLogTarget() override;
  [[nodiscard]] const char* GetName() const noexcept override;
  void SetFlushEachLine(bool flush) noexcept;
  [[nodiscard]] bool GetFlushEachLine() const noexcept;

 protected:
  bool DoWrite(const LogRecord& record) override;
  void DoFlush() override;

 private:
  bool flushEachLine_ = false;  // guarded by the target's lock
};

/// Sends each rendered line to the debugger output (written only while a
/// debugger is attached).
class DebuggerConsoleLogTarget final : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget() noexcept = default;
  ~DebuggerConsoleLogTarget() override;
  [[nodiscard]] const char* GetName() const noexcept override;

 protected:
  bool DoWrite(const LogRecord& record) override;
  void DoFlush() override;
};

}  // namespace Kavren
