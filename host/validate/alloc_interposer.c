// The allocation interposer (hxa-alloc-interposer.so): stands in for malloc and its
// relatives in a validator child, counts the allocations the plugin under test makes
// while a plan is armed, refuses the planned ones, and hands everything else on.
//
// The next allocator is found with dlsym(RTLD_NEXT): the C library's heap, or on the
// sanitizer build the address sanitizer's, which this library is preloaded in front of
// (with verify_asan_link_order=0), so that the plugin's calls reach this malloc first and
// every block still comes from, and goes back to, the sanitizer's heap. dlsym may
// allocate while it resolves; those few blocks come from a static arena and are never
// returned. valloc and pvalloc are not interposed: nothing of ours calls them.
#define _GNU_SOURCE  // NOLINT(bugprone-reserved-identifier): dlsym's RTLD_NEXT
#include "host/validate/alloc_interposer.h"

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stddef.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

typedef void* (*MallocFunction)(size_t);
typedef void* (*CallocFunction)(size_t, size_t);
typedef void* (*ReallocFunction)(void*, size_t);
typedef void (*FreeFunction)(void*);
// aligned_alloc and memalign: (alignment, size).
typedef void* (*AlignedFunction)(size_t, size_t);
typedef int (*PosixMemalignFunction)(void**, size_t, size_t);

static struct {
  MallocFunction malloc;
  CallocFunction calloc;
  ReallocFunction realloc;
  FreeFunction free;
  AlignedFunction alignedAlloc;
  AlignedFunction memalign;
  PosixMemalignFunction posixMemalign;
} next;
static pthread_once_t resolveOnce = PTHREAD_ONCE_INIT;
// Set on the thread that resolves: its allocations come from the arena.
static __thread int resolving __attribute__((tls_model("initial-exec")));

// ---- The arena of allocations made while dlsym resolves ------------------------------

#define ARENA_BYTES ((size_t)64 * 1024)
#define ARENA_HEADER 16
static _Alignas(16) unsigned char arena[ARENA_BYTES];
static atomic_size_t arenaUsed;

static int InArena(const void* block) {
  const unsigned char* byte = (const unsigned char*)block;
  return byte >= arena && byte < arena + ARENA_BYTES;
}

// A zeroed block that precedes its size; null when the arena is spent.
static void* ArenaAllocate(size_t size, size_t alignment) {
  if (alignment < ARENA_HEADER) alignment = ARENA_HEADER;
  if (size > ARENA_BYTES) return NULL;
  const size_t total = ARENA_HEADER + alignment + size;
  const size_t start = atomic_fetch_add(&arenaUsed, total);
  if (start + total > ARENA_BYTES) return NULL;
  const uintptr_t first = (uintptr_t)(arena + start + ARENA_HEADER);
  unsigned char* block = (unsigned char*)((first + alignment - 1) & ~(uintptr_t)(alignment - 1));
  memcpy(block - sizeof size, &size, sizeof size);
  return block;
}

static size_t ArenaSize(const void* block) {
  size_t size;
  memcpy(&size, (const unsigned char*)block - sizeof size, sizeof size);
  return size;
}

static void ResolveNext(void) {
  resolving = 1;
  next.malloc = (MallocFunction)dlsym(RTLD_NEXT, "malloc");
  next.calloc = (CallocFunction)dlsym(RTLD_NEXT, "calloc");
  next.realloc = (ReallocFunction)dlsym(RTLD_NEXT, "realloc");
  next.free = (FreeFunction)dlsym(RTLD_NEXT, "free");
  next.alignedAlloc = (AlignedFunction)dlsym(RTLD_NEXT, "aligned_alloc");
  next.memalign = (AlignedFunction)dlsym(RTLD_NEXT, "memalign");
  next.posixMemalign = (PosixMemalignFunction)dlsym(RTLD_NEXT, "posix_memalign");
  resolving = 0;
}

// False on the resolving thread while it resolves; else the next allocator is known.
static int Ready(void) {
  if (resolving) return 0;
  pthread_once(&resolveOnce, ResolveNext);
  return 1;
}

// ---- Plans ------------------------------------------------------------------------------

static atomic_uintptr_t ranges[2 * HXA_ALLOC_MAX_RANGES];
static atomic_int rangePairs;
static atomic_int armed;
static _Atomic uint64_t numbers[HXA_ALLOC_MAX_NUMBERS];
static atomic_uint numberCount;
static atomic_uint ratePerMillion;
static _Atomic uint64_t seed;
static _Atomic uint64_t counted;
static _Atomic uint64_t refused;
static _Atomic uint64_t firstRefused[HXA_ALLOC_MAX_REFUSED];

static uint64_t Mix(uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

static int InPlugin(uintptr_t caller) {
  const int pairs = atomic_load_explicit(&rangePairs, memory_order_acquire);
  for (size_t pair = 0; pair < (size_t)pairs; ++pair) {
    if (caller >= atomic_load(&ranges[2 * pair]) && caller < atomic_load(&ranges[2 * pair + 1])) {
      return 1;
    }
  }
  return 0;
}

// Counts an allocation of `caller` and answers whether it is refused (errno set).
static int Refuse(const void* caller) {
  if (!atomic_load_explicit(&armed, memory_order_acquire) || !InPlugin((uintptr_t)caller)) {
    return 0;
  }
  const uint64_t number = atomic_fetch_add(&counted, 1) + 1;
  int refuse = 0;
  const unsigned count = atomic_load(&numberCount);
  for (unsigned index = 0; index < count && !refuse; ++index) {
    refuse = atomic_load(&numbers[index]) == number;
  }
  const unsigned rate = atomic_load(&ratePerMillion);
  if (!refuse && rate != 0) refuse = Mix(atomic_load(&seed) ^ Mix(number)) % 1000000u < rate;
  if (!refuse) return 0;
  const uint64_t index = atomic_fetch_add(&refused, 1);
  if (index < HXA_ALLOC_MAX_REFUSED) atomic_store(&firstRefused[index], number);
  errno = ENOMEM;
  return 1;
}

static void SetRanges(const uintptr_t* pairsOfAddresses, int pairs) {
  if (pairs > HXA_ALLOC_MAX_RANGES) pairs = HXA_ALLOC_MAX_RANGES;
  atomic_store_explicit(&rangePairs, 0, memory_order_release);
  for (int index = 0; index < 2 * pairs; ++index)
    atomic_store(&ranges[index], pairsOfAddresses[index]);
  atomic_store_explicit(&rangePairs, pairs, memory_order_release);
}

// Arming is meant for quiet moments: an allocation already past the armed test when the
// plan changes may still count under the plan before.
static void Arm(const HxaAllocPlan* plan) {
  atomic_store(&armed, 0);
  const unsigned count =
      plan->numberCount < HXA_ALLOC_MAX_NUMBERS ? plan->numberCount : HXA_ALLOC_MAX_NUMBERS;
  for (unsigned index = 0; index < count; ++index)
    atomic_store(&numbers[index], plan->numbers[index]);
  atomic_store(&numberCount, count);
  atomic_store(&ratePerMillion, plan->ratePerMillion);
  atomic_store(&seed, plan->seed);
  atomic_store(&counted, 0);
  atomic_store(&refused, 0);
  atomic_store_explicit(&armed, 1, memory_order_release);
}

static void Disarm(void) { atomic_store(&armed, 0); }

static void Status(HxaAllocStatus* status) {
  status->counted = atomic_load(&counted);
  status->refused = atomic_load(&refused);
  for (int index = 0; index < HXA_ALLOC_MAX_REFUSED; ++index) {
    status->firstRefused[index] = atomic_load(&firstRefused[index]);
  }
}

static const HxaAllocControl control = {SetRanges, Arm, Disarm, Status};

EXPORT const HxaAllocControl* hxa_alloc_control(void) { return &control; }

// ---- The interposed functions -----------------------------------------------------------
// Each reads its own return address: the caller whose range decides.

EXPORT void* malloc(size_t size) {
  if (!Ready()) return ArenaAllocate(size, 16);
  if (Refuse(__builtin_return_address(0))) return NULL;
  return next.malloc(size);
}

EXPORT void* calloc(size_t count, size_t size) {
  if (!Ready()) {
    if (size != 0 && count > (size_t)-1 / size) return NULL;
    return ArenaAllocate(count * size, 16);
  }
  if (Refuse(__builtin_return_address(0))) return NULL;
  return next.calloc(count, size);
}

EXPORT void* realloc(void* block, size_t size) {
  if (InArena(block)) {
    void* moved = Ready() ? next.malloc(size) : ArenaAllocate(size, 16);
    if (moved != NULL) {
      const size_t old = ArenaSize(block);
      memcpy(moved, block, old < size ? old : size);
    }
    return moved;
  }
  if (!Ready()) return block == NULL ? ArenaAllocate(size, 16) : NULL;
  // A size of 0 frees: never refused.
  if (size != 0 && Refuse(__builtin_return_address(0))) return NULL;
  return next.realloc(block, size);
}

EXPORT void free(void* block) {
  if (block == NULL || InArena(block) || !Ready()) return;
  next.free(block);
}

EXPORT void* aligned_alloc(size_t alignment, size_t size) {
  if (!Ready()) return ArenaAllocate(size, alignment);
  if (Refuse(__builtin_return_address(0))) return NULL;
  return next.alignedAlloc(alignment, size);
}

EXPORT void* memalign(size_t alignment, size_t size) {
  if (!Ready()) return ArenaAllocate(size, alignment);
  if (Refuse(__builtin_return_address(0))) return NULL;
  return next.memalign(alignment, size);
}

EXPORT int posix_memalign(void** out, size_t alignment, size_t size) {
  if (!Ready()) {
    *out = ArenaAllocate(size, alignment);
    return *out != NULL ? 0 : ENOMEM;
  }
  if (Refuse(__builtin_return_address(0))) return ENOMEM;
  return next.posixMemalign(out, alignment, size);
}
