// The value pool's page geometry, block life cycle, interning and the page provider's regions.
#include "binding/value_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace Kavren {
namespace {

using Header = ValuePool::PageHeader;

std::uintptr_t Address(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

std::size_t BlockSize(std::size_t classIndex) { return (classIndex + 1) * ValuePool::kGranularity; }

TEST(ValuePoolGeometry, ClassIndexRoundsUpToMultiplesOfFour) {
  struct Row {
    std::size_t size;
    std::size_t classIndex;
  };
  for (const Row row :
       {Row{1, 0}, Row{4, 0}, Row{5, 1}, Row{8, 1}, Row{9, 2}, Row{71, 17}, Row{72, 17}}) {
    EXPECT_EQ(ValuePool::ClassIndex(row.size), row.classIndex) << row.size;
  }
}

TEST(ValuePoolGeometry, FirstBlockClearsTheHeaderAndLastFitsThePage) {
  for (std::size_t i = 0; i < ValuePool::kClassCount; ++i) {
    const std::size_t size = BlockSize(i);
    const std::size_t first = ValuePool::FirstBlockIndex(size);
    EXPECT_GE(first * size, ValuePool::kPageHeaderSize) << size;
    EXPECT_LT((first - 1) * size, ValuePool::kPageHeaderSize) << size;
    for (const std::size_t page : {ValuePool::kInlinePageSize, PageProvider::kPageSize}) {
      const std::size_t last = ValuePool::LastBlockIndex(page, size);
      EXPECT_LE((last + 1) * size, page) << size;
      EXPECT_GT((last + 2) * size, page) << size;
    }
  }
}

#if defined(__i386__)
TEST(ValuePoolGeometry, ReferenceHeaderGivesTheDocumentedInlineBlocks) {
  EXPECT_EQ(ValuePool::kPageHeaderSize, 16u);
  EXPECT_EQ(ValuePool::FirstBlockIndex(4), 4u);
  EXPECT_EQ(ValuePool::LastBlockIndex(ValuePool::kInlinePageSize, 4), 35u);
  EXPECT_EQ(ValuePool::FirstBlockIndex(72), 1u);
  EXPECT_EQ(ValuePool::LastBlockIndex(ValuePool::kInlinePageSize, 72), 1u);
}
#endif

// Every class hands out its inline blocks first, in index order, at k * size; then it
// continues on a provider page, again from the first block index. The classes are filled
// from the largest down, so no inline page of a larger class is left to borrow from.
TEST(ValuePool, ServesInlineBlocksInOrderThenAProviderPage) {
  PageProvider provider;
  ValuePool pool(provider);
  for (std::size_t i = ValuePool::kClassCount; i-- > 0;) {
    const std::size_t size = BlockSize(i);
    const Header* inlinePage = pool.InlinePage(i);
    EXPECT_EQ(inlinePage->pageSize, ValuePool::kInlinePageSize);
    EXPECT_EQ(inlinePage->used, 0);
    const std::size_t first = ValuePool::FirstBlockIndex(size);
    EXPECT_EQ(inlinePage->freeHead, first);
    const std::size_t last = ValuePool::LastBlockIndex(ValuePool::kInlinePageSize, size);
    for (std::size_t k = first; k <= last; ++k) {
      EXPECT_EQ(Address(pool.Allocate(size)), Address(inlinePage) + k * size) << size;
    }
    EXPECT_EQ(inlinePage->freeHead, 0);
    EXPECT_EQ(inlinePage->used, static_cast<std::int16_t>(last - first + 1));
    EXPECT_EQ(pool.ListedPages(i), 0u);

    void* fromPage = pool.Allocate(size);
    const std::uintptr_t page = Address(fromPage) & ~(PageProvider::kPageSize - 1);
    EXPECT_EQ(Address(fromPage), page + first * size);
    EXPECT_EQ(reinterpret_cast<const Header*>(page)->pageSize, PageProvider::kPageSize);
    EXPECT_EQ(provider.PagesInUse(), ValuePool::kClassCount - i);
  }
}

// A class whose inline page is full borrows the first free block of a larger class's
// inline page that is aligned at least as well, before it takes a provider page; the
// block goes back to the lender's page.
TEST(ValuePool, FullClassBorrowsFromALargerInlinePageAlignedAsWell) {
  struct Row {
    std::size_t size;
    std::size_t lenderSize;   // 0: none left, a provider page
    std::size_t filledFirst;  // a lender filled beforehand, or 0
  };
  for (const Row row : {Row{40, 48, 0}, Row{16, 32, 0}, Row{16, 48, 32}, Row{12, 16, 0},
                        Row{36, 40, 0}, Row{68, 72, 0}, Row{72, 0, 0}, Row{64, 0, 0}}) {
    PageProvider provider;
    ValuePool pool(provider);
    const std::size_t classIndex = ValuePool::ClassIndex(row.size);
    std::vector<std::pair<void*, std::size_t>> held;
    auto fill = [&](std::size_t size) {
      const Header* page = pool.InlinePage(ValuePool::ClassIndex(size));
      while (page->freeHead != 0) held.emplace_back(pool.Allocate(size), size);
    };
    fill(row.size);
    if (row.filledFirst != 0) fill(row.filledFirst);
    void* block = pool.Allocate(row.size);
    if (row.lenderSize == 0) {
      EXPECT_EQ(provider.PagesInUse(), 1u) << row.size;
      EXPECT_EQ(pool.ListedPages(classIndex), 1u) << row.size;
    } else {
      const std::size_t lender = ValuePool::ClassIndex(row.lenderSize);
      const Header* page = pool.InlinePage(lender);
      EXPECT_EQ(provider.PagesInUse(), 0u) << row.size;
      EXPECT_EQ(Address(block),
                Address(page) + ValuePool::FirstBlockIndex(row.lenderSize) * row.lenderSize)
          << row.size;
      EXPECT_EQ(Address(block) % ValuePool::ClassAlignment(classIndex), 0u) << row.size;
      EXPECT_EQ(page->used, 1) << row.size;
      pool.Free(block, row.size);
      EXPECT_EQ(page->used, 0) << row.size;
      EXPECT_EQ(pool.UsedBlocks(lender), 0u) << row.size;
      block = nullptr;
    }
    pool.Free(block, row.size);
    for (const auto& [heldBlock, size] : held) pool.Free(heldBlock, size);
    EXPECT_EQ(provider.PagesInUse(), 0u) << row.size;
    EXPECT_EQ(pool.UsedBlocks(classIndex), 0u) << row.size;
  }
}

TEST(ValuePool, LastFreeOnAProviderPageReturnsItButTheInlinePageStays) {
  PageProvider provider;
  ValuePool pool(provider);
  void* inlineBlock = pool.Allocate(72);  // the 72-byte inline page holds one block
  void* pageBlock = pool.Allocate(72);
  EXPECT_EQ(provider.PagesInUse(), 1u);
  EXPECT_EQ(pool.ListedPages(17), 1u);  // the provider page; the full inline page is unlinked

  pool.Free(pageBlock, 72);
  EXPECT_EQ(provider.PagesInUse(), 0u);
  EXPECT_EQ(provider.RegionCount(), 1u);  // kept, wholly free
  EXPECT_EQ(pool.ListedPages(17), 0u);

  pool.Free(inlineBlock, 72);
  EXPECT_EQ(pool.ListedPages(17), 1u);
  EXPECT_EQ(pool.InlinePage(17)->used, 0);
  EXPECT_EQ(pool.Allocate(72), inlineBlock);
  pool.Free(inlineBlock, 72);
}

TEST(ValuePool, MostRecentlyFreedIntoPageServesNext) {
  PageProvider provider;
  ValuePool pool(provider);
  void* inlineBlock = pool.Allocate(72);
  void* first = pool.Allocate(72);
  void* second = pool.Allocate(72);  // same provider page, still listed
  pool.Free(inlineBlock, 72);        // the inline page goes to the front
  EXPECT_EQ(pool.Allocate(72), inlineBlock);
  pool.Free(second, 72);  // within a page the freed block is reused first
  EXPECT_EQ(pool.Allocate(72), second);
  pool.Free(inlineBlock, 72);
  pool.Free(second, 72);
  pool.Free(first, 72);
  EXPECT_EQ(provider.PagesInUse(), 0u);
}

TEST(ValuePool, LargeSizesComeFromTheHeap) {
  PageProvider provider;
  ValuePool pool(provider);
  void* block = pool.Allocate(500);
  std::memset(block, 0xAB, 500);
  EXPECT_EQ(provider.PagesInUse(), 0u);
  pool.Free(block, 500);
}

TEST(ValuePool, DestructionReturnsPagesOfBlocksNeverFreed) {
  PageProvider provider;
  {
    ValuePool pool(provider);
    for (int i = 0; i < 3; ++i) (void)pool.Allocate(72);
    (void)pool.Intern("left behind");
    EXPECT_EQ(provider.PagesInUse(), 1u);
  }
  EXPECT_EQ(provider.PagesInUse(), 0u);
  EXPECT_EQ(provider.RegionCount(), 1u);
}

// Blocks of AllocateLarge are given back one by one, or all at once with the pool (the
// sanitizer build's leak check watches the one left).
TEST(ValuePoolLargeBlocks, AreFreedSinglyOrWithThePool) {
  PageProvider provider;
  ValuePool pool(provider);
  void* kept = pool.AllocateLarge(1000);
  void* freed = pool.AllocateLarge(200);
  std::memset(kept, 1, 1000);
  std::memset(freed, 2, 200);
  EXPECT_EQ(Address(kept) % 16, 0u);
  EXPECT_EQ(Address(freed) % 16, 0u);
  pool.FreeLarge(freed);
  pool.FreeLarge(nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(kept)[999], 1);
}

TEST(ValuePoolInterning, EqualTextsShareOneCountedEntry) {
  PageProvider provider;
  ValuePool pool(provider);
  const detail::InternedText* first = pool.Intern("alpha");
  const detail::InternedText* second = pool.Intern(std::string("alpha"));
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->refCount, 2u);
  EXPECT_EQ(first->hash, detail::TextHash("alpha"));
  EXPECT_EQ(pool.EntryCount(), 1u);
  pool.Release(first);
  EXPECT_EQ(pool.FindEntry("alpha"), first);
  pool.Release(second);
  EXPECT_EQ(pool.FindEntry("alpha"), nullptr);
  EXPECT_EQ(pool.EntryCount(), 0u);
}

TEST(ValuePoolInterning, EmptyTextIsTheUncountedStaticEntry) {
  PageProvider provider;
  ValuePool pool(provider);
  const detail::InternedText* empty = pool.Intern("");
  EXPECT_EQ(empty, detail::EmptyText());
  EXPECT_EQ(empty->refCount, 0u);
  EXPECT_EQ(pool.EntryCount(), 0u);
  pool.Release(empty);
  EXPECT_EQ(detail::EmptyText()->refCount, 0u);
}

// Texts that differ only after a zero byte are different texts.
TEST(ValuePoolInterning, ZeroBytesDoNotEndTheText) {
  PageProvider provider;
  ValuePool pool(provider);
  const detail::InternedText* a = pool.Intern(std::string_view("a\0b", 3));
  const detail::InternedText* b = pool.Intern(std::string_view("a\0c", 3));
  EXPECT_NE(a, b);
  EXPECT_EQ(a->text().size(), 3u);
  pool.Release(a);
  pool.Release(b);
}

TEST(ValuePoolInterning, ManyEntriesStayFindableAcrossGrowth) {
  PageProvider provider;
  ValuePool pool(provider);
  std::vector<const detail::InternedText*> entries;
  for (int i = 0; i < 1000; ++i) entries.push_back(pool.Intern("key" + std::to_string(i)));
  EXPECT_EQ(pool.EntryCount(), 1000u);
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(pool.FindEntry("key" + std::to_string(i)), entries[i]);
  }
  for (const detail::InternedText* entry : entries) pool.Release(entry);
  EXPECT_EQ(pool.EntryCount(), 0u);
  EXPECT_EQ(provider.PagesInUse(), 0u);
}

TEST(PageProvider, HandsOutTheLowestPageFirstAndKeepsOneWhollyFreeRegion) {
  PageProvider provider(1);
  std::vector<void*> pages;
  for (std::size_t i = 0; i < PageProvider::kPagesPerRegion; ++i)
    pages.push_back(provider.TakePage());
  EXPECT_EQ(provider.RegionCount(), 1u);
  EXPECT_EQ(provider.RegionsMapped(), 1u);
  for (std::size_t i = 1; i < pages.size(); ++i) {
    EXPECT_EQ(Address(pages[i]), Address(pages[0]) + i * PageProvider::kPageSize);
  }
  EXPECT_EQ(Address(pages[0]) % PageProvider::kPageSize, 0u);

  // The seventeenth page comes from a second region, which stays mapped once it is
  // wholly free again, and serves the next page that the first region cannot.
  void* seventeenth = provider.TakePage();
  EXPECT_EQ(provider.RegionCount(), 2u);
  EXPECT_TRUE(Address(seventeenth) < Address(pages[0]) ||
              Address(seventeenth) >= Address(pages[0]) + PageProvider::kRegionSize);
  EXPECT_EQ(Address(seventeenth) % PageProvider::kPageSize, 0u);
  provider.ReturnPage(seventeenth);
  EXPECT_EQ(provider.RegionCount(), 2u);
  EXPECT_EQ(provider.TakePage(), seventeenth);
  provider.ReturnPage(seventeenth);
  EXPECT_EQ(provider.RegionsMapped(), 2u);

  for (std::size_t i = 0; i + 1 < pages.size(); ++i) provider.ReturnPage(pages[i]);
  EXPECT_EQ(provider.RegionCount(), 2u);
  // A returned page is handed out again (from the lower region, the last returned page
  // first), no region is added.
  void* const lowest =
      Address(seventeenth) < Address(pages[0]) ? seventeenth : pages[pages.size() - 2];
  EXPECT_EQ(provider.TakePage(), lowest);
  EXPECT_EQ(provider.RegionCount(), 2u);
  provider.ReturnPage(lowest);
  // The first region becomes wholly free too, beyond the one kept: it goes back at once.
  provider.ReturnPage(pages.back());
  EXPECT_EQ(provider.RegionCount(), 1u);
  EXPECT_EQ(provider.PagesInUse(), 0u);
  EXPECT_EQ(provider.TakePage(), seventeenth);
  EXPECT_EQ(provider.RegionsMapped(), 2u);
  provider.ReturnPage(seventeenth);
}

// A tree of four regions taken and returned again and again maps them once when three may
// stay wholly free, and one more each time beyond those.
TEST(PageProvider, KeepsUpToItsCountOfWhollyFreeRegions) {
  PageProvider provider(3);
  std::vector<void*> pages(4 * PageProvider::kPagesPerRegion);
  for (int round = 1; round <= 3; ++round) {
    for (void*& page : pages) page = provider.TakePage();
    for (void* page : pages) provider.ReturnPage(page);
    EXPECT_EQ(provider.RegionCount(), 3u);
    EXPECT_EQ(provider.RegionsMapped(), 3u + round);
  }
  EXPECT_EQ(provider.PagesInUse(), 0u);
}

// A page taken and returned over and over maps its region once.
TEST(PageProvider, TakingAndReturningOnePageMapsOneRegion) {
  PageProvider provider;
  for (int i = 0; i < 100; ++i) provider.ReturnPage(provider.TakePage());
  EXPECT_EQ(provider.RegionsMapped(), 1u);
  EXPECT_EQ(provider.RegionCount(), 1u);
  EXPECT_EQ(provider.PagesInUse(), 0u);
}

TEST(PageProvider, IgnoresPagesItNeverGaveOut) {
  PageProvider provider;
  void* page = provider.TakePage();
  alignas(4096) static unsigned char foreign[4096];
  provider.ReturnPage(foreign);
  provider.ReturnPage(static_cast<unsigned char*>(page) + 8);  // not a page start
  provider.ReturnPage(nullptr);
  EXPECT_EQ(provider.PagesInUse(), 1u);
  void* other = provider.TakePage();
  provider.ReturnPage(page);
  provider.ReturnPage(page);  // a second return of the same page changes nothing
  EXPECT_EQ(provider.PagesInUse(), 1u);
  EXPECT_EQ(provider.TakePage(), page);
  void* third = provider.TakePage();
  EXPECT_NE(third, page);
  for (void* taken : {page, other, third}) provider.ReturnPage(taken);
  EXPECT_EQ(provider.RegionCount(), 1u);
  EXPECT_EQ(provider.PagesInUse(), 0u);
}

}  // namespace
}  // namespace Kavren
