// Helpers for tests that talk to the development server over real HTTP on 127.0.0.1.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Kavren::Host::Testing {

/// One Server-Sent Event as read: its name and its data line.
struct StreamEvent {
  std::string name;
  std::string data;

  friend bool operator==(const StreamEvent&, const StreamEvent&) = default;
};

/// Reads GET `target` as an event stream on a thread of its own until destroyed.
class EventReader {
 public:
  EventReader(int port, std::string target) : client_("127.0.0.1", port) {
    thread_ = std::thread([this, target = std::move(target)] {
      auto result = client_.Get(target, [this](const char* data, std::size_t length) {
        std::lock_guard lock(mutex_);
        text_.append(data, length);
        changed_.notify_all();
        return !stopping_;
      });
      std::lock_guard lock(mutex_);
      ended_ = true;
      changed_.notify_all();
    });
  }
  ~EventReader() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    client_.stop();
    thread_.join();
  }

  /// Waits (5 s at most) for the server's first line; false when it never came.
  bool WaitOpen() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return !text_.empty(); }) &&
           text_.starts_with(": stream open\n\n");
  }

  /// Waits (5 s at most) until `count` events arrived; answers those read so far.
  std::vector<StreamEvent> WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5),
                      [&] { return Parse().size() >= count || ended_; });
    return Parse();
  }

  /// Waits (5 s at most) for the server to end the stream; false when it did not.
  bool WaitEnded() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return ended_; });
  }

 private:
  // The complete "event:"/"data:" blocks of the text; `mutex_` held.
  std::vector<StreamEvent> Parse() const {
    std::vector<StreamEvent> events;
    std::size_t start = 0;
    for (std::size_t end; (end = text_.find("\n\n", start)) != std::string::npos; start = end + 2) {
      const std::string block = text_.substr(start, end - start);
      if (!block.starts_with("event: ")) continue;
      const std::size_t newline = block.find('\n');
      if (newline == std::string::npos || block.compare(newline + 1, 6, "data: ") != 0) continue;
      events.push_back({block.substr(7, newline - 7), block.substr(newline + 7)});
    }
    return events;
  }

  httplib::Client client_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
  bool stopping_ = false;
  bool ended_ = false;
  std::thread thread_;
};

/// Sends raw bytes to 127.0.0.1:`port` and answers what came back before the
/// server closed (or 5 s passed): requests ask for "Connection: close".
std::string RawExchange(int port, const std::string& request);

}  // namespace Kavren::Host::Testing
