// The page provider shared by pools on several threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "binding/value.h"
#include "binding/value_pool.h"

namespace Kavren {
namespace {

// Each thread fills the pages it holds with its own mark and checks them before giving
// them back: a page handed to both threads at once would show the other's mark.
TEST(PageProviderConcurrency, TwoThreadsTakeAndReturnPages) {
  PageProvider provider(1);
  auto work = [&provider](unsigned char mark, bool* intact) {
    std::vector<void*> held;
    for (int round = 0; round < 200; ++round) {
      for (int i = 0; i < 20; ++i) {
        void* page = provider.TakePage();
        std::memset(page, mark, PageProvider::kPageSize);
        held.push_back(page);
      }
      for (void* page : held) {
        const auto* bytes = static_cast<const unsigned char*>(page);
        if (bytes[0] != mark || bytes[PageProvider::kPageSize - 1] != mark) *intact = false;
        provider.ReturnPage(page);
      }
      held.clear();
    }
  };
  bool firstIntact = true;
  bool secondIntact = true;
  std::thread first(work, 0x11, &firstIntact);
  std::thread second(work, 0x22, &secondIntact);
  first.join();
  second.join();
  EXPECT_TRUE(firstIntact);
  EXPECT_TRUE(secondIntact);
  EXPECT_EQ(provider.PagesInUse(), 0u);
  EXPECT_EQ(provider.RegionCount(), 1u);  // the wholly free region kept
}

// Value trees on two threads draw on the process-wide provider at the same time.
TEST(PageProviderConcurrency, TreesOnTwoThreadsShareTheProvider) {
  auto work = [](int seed, int* checksum) {
    for (int round = 0; round < 20; ++round) {
      BindingProperty root;
      for (int i = 0; i < 500; ++i) {
        BindingProperty& item = root.Append();
        item.Member("id").SetSigned(seed + i);
        item.Member("name").SetString("item" + std::to_string(i));
      }
      BindingProperty copy(root);
      for (const BindingProperty& item : copy.Elements()) {
        *checksum += static_cast<int>(item.Find("id").GetSigned());
      }
    }
  };
  int first = 0;
  int second = 0;
  std::thread a(work, 0, &first);
  std::thread b(work, 1000, &second);
  a.join();
  b.join();
  EXPECT_EQ(first, 20 * (499 * 500 / 2));
  EXPECT_EQ(second, 20 * (499 * 500 / 2 + 1000 * 500));
}

}  // namespace
}  // namespace Kavren
