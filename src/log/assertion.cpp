// Assertion reports in their fixed layout, built in a stack buffer.
#include "log/assertion.h"

#include <cstdio>

#include "log/log.h"
#include "log/messages.h"

namespace Kavren {
namespace {

bool HasText(const char* text) noexcept { return text != nullptr && text[0] != '\0'; }

class ReportWriter {
 public:
  ReportWriter(char* out, std::size_t capacity) noexcept : out_(out), capacity_(capacity) {
    if (capacity_ > 0) out_[0] = '\0';
  }

  void Append(const char* text) noexcept {
    for (; *text != '\0' && length_ + 1 < capacity_; ++text) out_[length_++] = *text;
    if (capacity_ > 0) out_[length_] = '\0';
  }

  std::size_t Length() const noexcept { return length_; }

 private:
  char* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
};

}  // namespace

std::size_t FormatAssertionReport(const char* expression, const char* description, const char* file,
                                  std::int32_t line, const char* function, char* out,
                                  std::size_t capacity) noexcept {
  if (out == nullptr) return 0;
  ReportWriter report(out, capacity);
  report.Append(detail::kAssertionHeading);
  if (HasText(file)) {
    report.Append(detail::kAssertionFile);
    report.Append(file);
    report.Append("\n");
  }
  if (line != 0) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(line));
    report.Append(detail::kAssertionLine);
    report.Append(number);
    report.Append("\n\n");
  }
  if (HasText(function)) {
    report.Append(detail::kAssertionFunction);
    report.Append(function);
    report.Append("\n\n");
  }
  if (HasText(expression)) {
    report.Append(detail::kAssertionExpression);
    report.Append(expression);
  }
  if (HasText(description)) {
    report.Append("\n\n");
    report.Append(detail::kAssertionDescription);
    report.Append(description);
  }
  return report.Length();
}

void ReportAssertion(const char* expression, const char* description, const char* file,
                     std::int32_t line, const char* function) noexcept {
  char text[kLogBufferSize];
  FormatAssertionReport(expression, description, file, line, function, text, sizeof text);
  LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0,
            detail::kAssertionLogFormat, text);
}

}  // namespace Kavren
