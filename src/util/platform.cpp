// Linux stand-ins for the reference platform's operating-system calls.
#include "util/platform.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <pthread.h>

namespace Kavren::Platform {

LocalTime CaptureLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,         parts.tm_hour,
                   parts.tm_min,         parts.tm_sec,    static_cast<std::int32_t>(now.tv_nsec / 1000000)};
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
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) {
      return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
    }
  }
  return false;
}

void DebuggerOutput(const char* text) {
  if (text != nullptr && IsDebuggerAttached()) std::fputs(text, stderr);
}

void* AllocateRegion(std::size_t size) {
  void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return region == MAP_FAILED ? nullptr : region;
}

void FreeRegion(void* region, std::size_t size) {
  if (region != nullptr) munmap(region, size);
}

std::size_t HeapBlockSize(const void* block) {
  return block == nullptr ? 0 : malloc_usable_size(const_cast<void*>(block));
}

}  // namespace Kavren::Platform
