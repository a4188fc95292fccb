// Line rendering: fixed buffers only, so rendering never allocates.
#include "log/log_line.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "log/log_groups.h"
#include "log/messages.h"

namespace Kavren {
namespace {

constexpr std::size_t kProcessNameCapacity = 1025;

// The process name, filled once; the pointer switches from the placeholder to
// the buffer after the buffer is complete.
char gProcessNameBuffer[kProcessNameCapacity];
std::atomic<const char*> gProcessName{detail::kUnknownProcessName};

// The first reading of the high-resolution clock; #H counts from here.
std::uint64_t HighResolutionOrigin() noexcept {
  static const std::uint64_t origin = Platform::HighResolutionCounter();
  return origin;
}

std::uint64_t HighResolutionFrequency() noexcept {
  static const std::uint64_t frequency = Platform::HighResolutionFrequency();
  return frequency;
}

std::size_t Terminated(int written, std::size_t capacity) noexcept {
  if (written < 0 || capacity == 0) return 0;
  return static_cast<std::size_t>(written) < capacity ? static_cast<std::size_t>(written)
                                                      : capacity - 1;
}

// Appends to a bounded line: characters past the limit are dropped.
class LineWriter {
 public:
  LineWriter(char* out, std::size_t limit) noexcept : out_(out), limit_(limit) {}

  bool Full() const noexcept { return length_ >= limit_; }
  std::size_t Length() const noexcept { return length_; }
  char* Cursor() noexcept { return out_ + length_; }
  std::size_t Room() const noexcept { return limit_ - length_; }
  void Advance(std::size_t count) noexcept { length_ += count; }

  void Put(char c) noexcept {
    if (!Full()) out_[length_++] = c;
  }
  void Append(const char* text, std::size_t maxLength = static_cast<std::size_t>(-1)) noexcept {
    for (std::size_t i = 0; i < maxLength && text[i] != '\0' && !Full(); ++i)
      out_[length_++] = text[i];
  }

 private:
  char* out_;
  std::size_t limit_;
  std::size_t length_ = 0;
};

void AppendHighResolutionSeconds(LineWriter& line) noexcept {
  const std::uint64_t origin = HighResolutionOrigin();
  const std::uint64_t now = Platform::HighResolutionCounter();
  // Single precision, as the format has always been computed.
  const float seconds =
      static_cast<float>(now - origin) / static_cast<float>(HighResolutionFrequency());
  const int whole = static_cast<int>(seconds);
  const int thousandths = static_cast<int>((seconds - static_cast<float>(whole)) * 1000.0f);
  char text[48];
  std::snprintf(text, sizeof text, detail::kHighResolutionFormat, whole, thousandths);
  line.Append(text);
}

}  // namespace

const char* LogLevelTag(std::int32_t level) noexcept {
  if (level < kLogLevelOkay || level > kLogLevelAlways) return detail::kUnknownLevelTag;
  return detail::kLevelTags[level];
}

std::size_t FormatLogTime(const LogTime& time, char* out, std::size_t capacity) noexcept {
  return Terminated(std::snprintf(out, capacity, detail::kTimeFormat, time.year, time.month,
                                  time.day, time.hour, time.minute, time.second, time.millisecond),
                    capacity);
}

std::size_t FormatLogTimeForFileName(const LogTime& time, char* out,
                                     std::size_t capacity) noexcept {
  return Terminated(std::snprintf(out, capacity, detail::kFileTimeFormat, time.year, time.month,
                                  time.day, time.hour, time.minute, time.second),
                    capacity);
}

const char* LogProcessName() noexcept { return gProcessName.load(std::memory_order_acquire); }

void CaptureLogProcessName() noexcept {
  static std::once_flag once;
  try {
    std::call_once(once, [] {
      const std::string path = Platform::ExecutablePath(kProcessNameCapacity - 1);
      if (path.empty()) return;
      const std::size_t slash = path.find_last_of('/');
      const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
      std::snprintf(gProcessNameBuffer, sizeof gProcessNameBuffer, "%s", name.c_str());
      gProcessName.store(gProcessNameBuffer, std::memory_order_release);
    });
  } catch (...) {
    // Out of memory while reading the path: the placeholder name stays.
  }
}

std::size_t RenderLogLine(const char* pattern, const LogRecord& record, char* out,
                          std::size_t capacity) noexcept {
  if (out == nullptr || capacity < 3) {
    if (out != nullptr && capacity > 0) out[0] = '\0';
    return 0;
  }
  // Two characters stay free for the line end.
  LineWriter line(out, capacity - 2);
  char piece[64];
  for (const char* p = pattern == nullptr ? "" : pattern; *p != '\0' && !line.Full(); ++p) {
    if (*p != '#') {
      line.Put(*p);
      continue;
    }
    const char token = p[1];
    if (token == '\0') break;  // a lone '#' at the end ends the line
    ++p;
    switch (token) {
      case 'D':
        FormatLogTime(record.time, piece, sizeof piece);
        line.Append(piece);
        break;
      case 'L':
        line.Append(LogLevelTag(record.level));
        break;
      case 'G':
        line.Advance(LogGroupsToText(record.groups, line.Cursor(), line.Room() + 1));
        break;
      case 'M':
        line.Append(record.message, kLogBufferSize - 1);
        break;
      case 'E':
        line.Append(LogProcessName());
        break;
      case 'T':
        std::snprintf(piece, sizeof piece, detail::kThreadFormat, Platform::CurrentThreadHandle());
        line.Append(piece);
        break;
      case 'H':
        AppendHighResolutionSeconds(line);
        break;
      default:
        line.Put(token);
        break;
    }
  }
  std::size_t length = line.Length();
  if (length == 0 || out[length - 1] != '\n') out[length++] = '\n';
  out[length] = '\0';
  return length;
}

}  // namespace Kavren
