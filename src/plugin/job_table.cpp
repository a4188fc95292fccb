// The module's scheduled jobs.
#include "plugin/job_table.h"

#include <utility>

#include "plugin/module_directory.h"

namespace Kavren {

std::shared_ptr<const JobTable::Entry> JobTable::Add(std::string label, ScheduledJob job) {
  auto entry = std::make_shared<Entry>(Entry{0, std::move(label), std::move(job)});
  std::lock_guard<std::mutex> guard(lock_);
  entry->ticket = ModuleDirectory::NextTicket();
  jobs_.emplace(entry->ticket, entry);
  return entry;
}

bool JobTable::Holds(std::uintptr_t ticket) const {
  std::lock_guard<std::mutex> guard(lock_);
  return jobs_.find(ticket) != jobs_.end();
}

std::shared_ptr<JobTable::Entry> JobTable::Take(std::uintptr_t ticket) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = jobs_.find(ticket);
  if (found == jobs_.end()) return nullptr;
  std::shared_ptr<Entry> entry = std::move(found->second);
  jobs_.erase(found);
  return entry;
}

std::size_t JobTable::Size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return jobs_.size();
}

void JobTable::Clear() {
  decltype(jobs_) jobs;
  std::lock_guard<std::mutex> guard(lock_);
  jobs.swap(jobs_);
}

}  // namespace Kavren
