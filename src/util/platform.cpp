// Linux stand-ins for the reference platform's operating-system calls.
#include "util/platform.h"

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace Kavren::Platform {

LocalTime CaptureLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &parts);
  return LocalTime{parts.tm_year + 1900,
                   parts.tm_mon + 1,
                   parts.tm_mday,
                   parts.tm_hour,
                   parts.tm_min,
                   parts.tm_sec,
                   static_cast<std::int32_t>(now.tv_nsec / 1000000)};
}

std::uint64_t HighResolutionCounter() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ULL +
         static_cast<std::uint64_t>(now.tv_nsec);
}

std::uint64_t HighResolutionFrequency() { return 1000000000ULL; }

std::string ExecutablePath(std::size_t limit) {
  std::string path(limit, '\0');
  ssize_t length = readlink("/proc/self/exe", path.data(), limit);
  if (length <= 0) return {};
  path.resize(static_cast<std::size_t>(length));
  return path;
}

void* CurrentThreadHandle() { return reinterpret_cast<void*>(pthread_self()); }

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }

bool IsDebuggerAttached() {
  // Read without allocating: the debugger target asks on every record it writes.
  char status[4096];
  long length = ReadFileIntoBuffer("/proc/self/status", status, sizeof status);
  if (length <= 0) return false;
  const char* tracer = std::strstr(status, "TracerPid:");
  return tracer != nullptr && std::strtol(tracer + 10, nullptr, 10) != 0;
}

void DebuggerOutput(const char* text) {
  if (text != nullptr && IsDebuggerAttached()) std::fputs(text, stderr);
}

void* AllocateRegion(std::size_t size, bool populate) {
  void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0), -1, 0);
  return region == MAP_FAILED ? nullptr : region;
}

void FreeRegion(void* region, std::size_t size) {
  if (region != nullptr) munmap(region, size);
}

bool RandomBytes(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size != 0) {
    const ssize_t got = getrandom(bytes, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

std::size_t HeapBlockSize(const void* block) {
  return block == nullptr ? 0 : malloc_usable_size(const_cast<void*>(block));
}

bool Cpuid(std::uint32_t leaf, std::uint32_t subleaf, std::uint32_t registers[4]) {
#if defined(__i386__) || defined(__x86_64__)
  return __get_cpuid_count(leaf, subleaf, &registers[0], &registers[1], &registers[2],
                           &registers[3]) != 0;
#else
  (void)leaf;
  (void)subleaf;
  (void)registers;
  return false;
#endif
}

bool GetThreadAffinityMask(std::uint64_t& mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return false;
  mask = 0;
  for (int cpu = 0; cpu < 64; ++cpu) {
    if (CPU_ISSET(cpu, &set)) mask |= std::uint64_t{1} << cpu;
  }
  return true;
}

bool SetThreadAffinityMask(std::uint64_t mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < 64; ++cpu) {
    if ((mask >> cpu) & 1) CPU_SET(cpu, &set);
  }
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

std::uint32_t ConfiguredProcessorCount() {
  int count = get_nprocs_conf();
  return count > 0 ? static_cast<std::uint32_t>(count) : 1;
}

void YieldThread() { sched_yield(); }

long ReadFileIntoBuffer(const char* path, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return -1;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::size_t used = 0;
  while (used + 1 < size) {
    ssize_t got = read(fd, buffer + used, size - 1 - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += static_cast<std::size_t>(got);
  }
  close(fd);
  buffer[used] = '\0';
  return static_cast<long>(used);
}

std::uint64_t ProcessPageFaults() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<std::uint64_t>(usage.ru_minflt) + static_cast<std::uint64_t>(usage.ru_majflt);
}

std::uint64_t AddressSpaceSize() {
  const std::uint64_t userSpace =
      sizeof(void*) == 4 ? (std::uint64_t{1} << 32) : (std::uint64_t{1} << 47);
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<std::uint64_t>(limit.rlim_cur) < userSpace) {
    return static_cast<std::uint64_t>(limit.rlim_cur);
  }
  return userSpace;
}

}  // namespace Kavren::Platform
