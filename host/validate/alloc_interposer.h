// The allocation interposer's control interface: a preloaded library that stands in for
// the process allocator and refuses planned allocations made from inside one plugin.
//
// The validator preloads hxa-alloc-interposer.so into the children of its alloc.* checks
// and finds the control table with dlsym(RTLD_DEFAULT, HXA_ALLOC_CONTROL_SYMBOL). Every
// allocation it does not refuse goes on to the next allocator in the process (the C
// library's, or the address sanitizer's), and every free goes there too.
//
// An allocation counts when its caller's return address lies in one of the plugin's
// ranges and a plan is armed; counts start at 1 when the plan is armed and are shared by
// every thread of the process.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HXA_ALLOC_CONTROL_SYMBOL "hxa_alloc_control"
// Ranges of caller addresses, numbers refused by name, refused numbers remembered.
#define HXA_ALLOC_MAX_RANGES 8
#define HXA_ALLOC_MAX_NUMBERS 16
#define HXA_ALLOC_MAX_REFUSED 32

// Which counted allocations to refuse: those numbered in `numbers`, and besides each one
// with probability ratePerMillion / 1e6, decided by a generator seeded with `seed` and
// keyed by the allocation's number (the same number gets the same answer every run).
typedef struct HxaAllocPlan {
  uint64_t numbers[HXA_ALLOC_MAX_NUMBERS];
  uint32_t numberCount;
  uint32_t ratePerMillion;
  uint64_t seed;
} HxaAllocPlan;

// What the armed plan has done so far.
typedef struct HxaAllocStatus {
  uint64_t counted;
  uint64_t refused;
  // The numbers of the first refusals, in the order they were made.
  uint64_t firstRefused[HXA_ALLOC_MAX_REFUSED];
} HxaAllocStatus;

typedef struct HxaAllocControl {
  // [before arming] The plugin's ranges: `pairs` [begin, end) pairs of addresses.
  void (*SetRanges)(const uintptr_t* ranges, int pairs);
  // [any thread] Starts counting from 1 under `plan`, forgetting the last plan's status.
  void (*Arm)(const HxaAllocPlan* plan);
  // [any thread] Stops counting and refusing; the status stays readable.
  void (*Disarm)(void);
  // [any thread] The status of the plan armed last.
  void (*Status)(HxaAllocStatus* status);
} HxaAllocControl;

// The control table; its address never changes.
const HxaAllocControl* hxa_alloc_control(void);

#ifdef __cplusplus
}
#endif
