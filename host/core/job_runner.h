// The development host's scheduled jobs: worker threads run them when due, and Pump
// runs one on the caller's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "abi/host.h"

namespace Kavren::Host {

/// Runs the jobs the plugin schedules. Thread-safe.
class JobRunner {
 public:
  /// `workerThreads` workers start at once (0: jobs run only in Pump,
  /// RunPending and WaitForJobs' caller).
  explicit JobRunner(unsigned workerThreads);
  /// Ends the workers; jobs still pending are dropped.
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  /// Queues `job` to run once after `delaySeconds` (not-a-number and negative
  /// delays are due now; longer than a day waits a day). A null job is ignored.
  void Schedule(const std::string& label, Abi::HostJobCallback job, void* context,
                double delaySeconds);
  /// Runs the earliest due job on the calling thread, if there is one.
  void Pump();
  /// Runs every queued job, due or not, on the calling thread, then waits for
  /// jobs still running elsewhere; answers how many ran here.
  std::size_t RunPending();
  /// Waits until no job is queued or running; false when `timeout` passed first.
  [[nodiscard]] bool WaitForJobs(std::chrono::milliseconds timeout);
  /// Stops starting jobs, waits for the running ones and drops the queued ones
  /// (they belong to the plugin, which frees them when it stops).
  void HoldAndDrop();
  /// Starts running jobs again after HoldAndDrop.
  void Release();

 private:
  struct Job {
    std::string label;
    Abi::HostJobCallback job;
    void* context;
    std::chrono::steady_clock::time_point due;
  };

  void WorkerLoop();
  // Takes the earliest due job, or none; `mutex_` held.
  std::optional<Job> TakeDueJob(std::chrono::steady_clock::time_point now);
  void Run(const Job& job);

  // Guards the queue and the counters below.
  std::mutex mutex_;
  // Signalled when jobs are added, taken or finished, and when the workers end.
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  std::size_t running_ = 0;
  // While set no job starts.
  bool held_ = false;
  bool endWorkers_ = false;
  // Last member: the workers start after everything they use exists.
  std::vector<std::thread> workers_;
};

}  // namespace Kavren::Host
