// The development host's job queue and its workers.
#include "host/core/job_runner.h"

#include <algorithm>

namespace Kavren::Host {

JobRunner::JobRunner(unsigned workerThreads) {
  for (unsigned index = 0; index < workerThreads; ++index) {
    workers_.emplace_back([this] { WorkerLoop(); });
  }
}

JobRunner::~JobRunner() {
  {
    std::lock_guard lock(mutex_);
    endWorkers_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void JobRunner::Schedule(const std::string& label, Abi::HostJobCallback job, void* context,
                         double delaySeconds) {
  if (job == nullptr) return;
  const double seconds = delaySeconds > 0 ? std::min(delaySeconds, 86400.0) : 0.0;
  const auto delay =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(Job{label, job, context, std::chrono::steady_clock::now() + delay});
  }
  changed_.notify_all();
}

std::optional<JobRunner::Job> JobRunner::TakeDueJob(std::chrono::steady_clock::time_point now) {
  if (held_) return std::nullopt;
  // The earliest due job first; among equal due times, the first scheduled.
  auto earliest = std::min_element(jobs_.begin(), jobs_.end(),
                                   [](const Job& a, const Job& b) { return a.due < b.due; });
  if (earliest == jobs_.end() || earliest->due > now) return std::nullopt;
  Job job = std::move(*earliest);
  jobs_.erase(earliest);
  ++running_;
  return job;
}

void JobRunner::Run(const Job& job) {
  job.job(job.context);
  {
    std::lock_guard lock(mutex_);
    --running_;
  }
  changed_.notify_all();
}

void JobRunner::WorkerLoop() {
  std::unique_lock lock(mutex_);
  while (!endWorkers_) {
    if (auto job = TakeDueJob(std::chrono::steady_clock::now())) {
      lock.unlock();
      Run(*job);
      lock.lock();
      continue;
    }
    if (jobs_.empty() || held_) {
      changed_.wait(lock);
    } else {
      const auto earliest = std::min_element(
          jobs_.begin(), jobs_.end(), [](const Job& a, const Job& b) { return a.due < b.due; });
      changed_.wait_until(lock, earliest->due);
    }
  }
}

void JobRunner::Pump() {
  std::optional<Job> job;
  {
    std::lock_guard lock(mutex_);
    job = TakeDueJob(std::chrono::steady_clock::now());
  }
  if (job) Run(*job);
}

std::size_t JobRunner::RunPending() {
  std::size_t ran = 0;
  for (;;) {
    std::optional<Job> job;
    {
      std::lock_guard lock(mutex_);
      if (!jobs_.empty() && !held_) {
        job = std::move(jobs_.front());
        jobs_.pop_front();
        ++running_;
      }
    }
    if (!job) break;
    Run(*job);
    ++ran;
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return running_ == 0; });
  return ran;
}

bool JobRunner::WaitForJobs(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (workers_.empty()) {
    // Nobody else runs them: run the due ones here.
    lock.unlock();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      lock.lock();
      if (jobs_.empty() && running_ == 0) return true;
      auto job = TakeDueJob(std::chrono::steady_clock::now());
      lock.unlock();
      if (job) {
        Run(*job);
      } else if (std::chrono::steady_clock::now() >= deadline) {
        return false;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }
  return changed_.wait_for(lock, timeout, [this] { return jobs_.empty() && running_ == 0; });
}

void JobRunner::HoldAndDrop() {
  std::unique_lock lock(mutex_);
  held_ = true;
  changed_.wait(lock, [this] { return running_ == 0; });
  jobs_.clear();
}

void JobRunner::Release() {
  {
    std::lock_guard lock(mutex_);
    jobs_.clear();
    held_ = false;
  }
  changed_.notify_all();
}

}  // namespace Kavren::Host
