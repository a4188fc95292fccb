// The operating-system services the framework uses, one small function each.
//
// The reference platform is Windows; these are their Linux stand-ins, kept
// here so that no other folder calls the operating system directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace Kavren::Platform {

/// A critical section: recursive, like the reference platform's.
using CriticalSection = std::recursive_mutex;

/// Broken-down local time with milliseconds.
struct LocalTime {
  std::int32_t year;
  std::int32_t month;
  std::int32_t day;
  std::int32_t hour;
  std::int32_t minute;
  std::int32_t second;
  std::int32_t millisecond;
};

/// The current local time (clock_gettime and localtime_r).
LocalTime CaptureLocalTime();

/// The high-resolution counter and its frequency (ticks per second).
std::uint64_t HighResolutionCounter();
std::uint64_t HighResolutionFrequency();

/// The running executable's path (from /proc/self/exe), at most `limit`
/// characters; empty when it cannot be read.
std::string ExecutablePath(std::size_t limit = 1024);

/// The calling thread's id as the log prints it (%p).
void* CurrentThreadHandle();
/// The calling thread's numeric id (gettid).
std::uint32_t CurrentThreadId();

/// True while a debugger (a tracer) is attached to the process.
bool IsDebuggerAttached();
/// The debugger output: written to stderr only while a tracer is attached.
void DebuggerOutput(const char* text);

/// Reserves and commits a zeroed region of `size` bytes (mmap); null on failure. With
/// `populate` its pages are made present at once (one call) instead of on first touch.
void* AllocateRegion(std::size_t size, bool populate = false);
/// Returns a region taken by AllocateRegion (munmap).
void FreeRegion(void* region, std::size_t size);

/// Fills `buffer` with `size` bytes from the operating system's random source (getrandom);
/// false when it could not give them all.
bool RandomBytes(void* buffer, std::size_t size);

/// The usable size of a heap block (malloc_usable_size); 0 for null.
std::size_t HeapBlockSize(const void* block);

/// CPUID `leaf`/`subleaf` into eax, ebx, ecx, edx; false when the processor has no
/// such leaf (or is not an x86 processor).
bool Cpuid(std::uint32_t leaf, std::uint32_t subleaf, std::uint32_t registers[4]);
/// The calling thread's allowed processors, the first 64 (sched_getaffinity).
bool GetThreadAffinityMask(std::uint64_t& mask);
/// Restricts the calling thread to `mask` (sched_setaffinity).
bool SetThreadAffinityMask(std::uint64_t mask);
/// The number of processors configured in the system (get_nprocs_conf).
std::uint32_t ConfiguredProcessorCount();
/// Gives up the rest of the calling thread's time slice (sched_yield).
void YieldThread();
/// Reads at most `size` - 1 bytes of a file into `buffer` and terminates them, without
/// allocating (open and read); returns the bytes read, or -1 when unreadable.
long ReadFileIntoBuffer(const char* path, char* buffer, std::size_t size);
/// The process's page faults so far, minor and major (getrusage).
std::uint64_t ProcessPageFaults();
/// The process's virtual address space: RLIMIT_AS when set, else the user space of
/// the architecture (4 GiB for a 32-bit process, 128 TiB for a 64-bit one).
std::uint64_t AddressSpaceSize();

}  // namespace Kavren::Platform
