// The module's counted subscriptions to host events.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace Kavren {

/// [thread-safe] Event name -> number of active Subscribe calls.
class SubscriptionTable {
 public:
  /// Counts one more subscription of `name`; true when it is the first.
  [[nodiscard]] bool Add(const std::string& name);
  /// Counts one subscription of `name` less; true when it was the last. More removals
  /// than additions would give away a subscription that another caller still counts
  /// on: an unknown name is left alone (false).
  [[nodiscard]] bool Remove(const std::string& name);
  [[nodiscard]] std::uint32_t Count(const std::string& name) const;
  void Clear();

 private:
  // Guards the counts.
  mutable std::mutex lock_;
  std::map<std::string, std::uint32_t, std::less<>> counts_;
};

}  // namespace Kavren
