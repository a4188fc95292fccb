// The module's counted subscriptions.
#include "plugin/subscription_table.h"

namespace Kavren {

bool SubscriptionTable::Add(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  return ++counts_[name] == 1;
}

bool SubscriptionTable::Remove(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = counts_.find(name);
  if (found == counts_.end()) return false;
  if (--found->second != 0) return false;
  counts_.erase(found);
  return true;
}

std::uint32_t SubscriptionTable::Count(const std::string& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = counts_.find(name);
  return found != counts_.end() ? found->second : 0;
}

void SubscriptionTable::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  counts_.clear();
}

}  // namespace Kavren
