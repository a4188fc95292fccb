// The value memory pool and the process-wide page provider behind it.
#include "binding/value_pool.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "util/accounting.h"
#include "util/platform.h"

namespace Kavren {

// ---------------------------------------------------------------------------------------
// PageProvider

PageProvider& PageProvider::Instance() {
  // Never destroyed: pools of other static objects may return pages during exit.
  static PageProvider* const provider = new PageProvider();
  return *provider;
}

PageProvider::PageProvider(std::size_t keptFreeRegions) : keptFreeRegions_(keptFreeRegions) {}

PageProvider::~PageProvider() {
  for (auto& [base, region] : regions_) Platform::FreeRegion(region.base, kRegionSize);
  const Accounting::UncountedScope uncounted;
  regions_.clear();
}

void PageProvider::LinkWithFree(Region& region) noexcept {
  // Kept in address order, so that pages are taken from the lowest region and the higher
  // ones can empty out; few regions have free pages at once, so the walk is short.
  Region* previous = nullptr;
  Region* next = withFreePages_;
  while (next != nullptr && next->base < region.base) {
    previous = next;
    next = next->nextWithFree;
  }
  region.previousWithFree = previous;
  region.nextWithFree = next;
  (previous != nullptr ? previous->nextWithFree : withFreePages_) = &region;
  if (next != nullptr) next->previousWithFree = &region;
  region.hasFreePages = true;
}

void PageProvider::UnlinkWithFree(Region& region) noexcept {
  (region.previousWithFree != nullptr ? region.previousWithFree->nextWithFree : withFreePages_) =
      region.nextWithFree;
  if (region.nextWithFree != nullptr)
    region.nextWithFree->previousWithFree = region.previousWithFree;
  region.nextWithFree = nullptr;
  region.previousWithFree = nullptr;
  region.hasFreePages = false;
}

void* PageProvider::TakePage() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (withFreePages_ == nullptr) {
    // A region beside others serves trees that grow large: all of its pages will be
    // used, so they are populated in one call rather than faulted in one by one. A lone
    // region (small trees come and go) is left to fault in only the pages it needs.
    void* memory = Platform::AllocateRegion(kRegionSize, !regions_.empty());
    if (memory == nullptr) throw std::bad_alloc();
    Region region{
        static_cast<unsigned char*>(memory), nullptr, nullptr, false, kPagesPerRegion, {}};
    // Highest page at the bottom of the stack, so the lowest page is handed out first.
    for (std::size_t i = 0; i < kPagesPerRegion; ++i) {
      region.freePages[i] = static_cast<std::uint8_t>(kPagesPerRegion - 1 - i);
    }
    const auto base = reinterpret_cast<std::uintptr_t>(memory);
    // A region's record, like its pages, is the provider's and not counted as the heap the
    // module holds: wholly free regions stay mapped, as many as the busiest moment left.
    const Accounting::UncountedScope uncounted;
    try {
      LinkWithFree(regions_.emplace(base, region).first->second);
    } catch (...) {
      Platform::FreeRegion(memory, kRegionSize);
      throw;
    }
    ++regionsMapped_;
    ++whollyFree_;  // until its first page is taken, just below
  }
  Region& region = *withFreePages_;
  if (region.freeCount == kPagesPerRegion) --whollyFree_;
  const std::uint8_t pageNumber = region.freePages[--region.freeCount];
  if (region.freeCount == 0) UnlinkWithFree(region);
  ++pagesInUse_;
  ++pagesTaken_;
  return region.base + pageNumber * kPageSize;
}

void PageProvider::ReturnPage(void* page) noexcept {
  if (page == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto address = reinterpret_cast<std::uintptr_t>(page);
  auto found = regions_.upper_bound(address);
  if (found == regions_.begin()) return;
  --found;
  Region& region = found->second;
  const std::uintptr_t offset = address - found->first;
  if (offset >= kRegionSize || offset % kPageSize != 0) return;
  const auto pageNumber = static_cast<std::uint8_t>(offset / kPageSize);
  // A page returned twice would be handed out twice: the second return is ignored.
  for (std::size_t i = 0; i < region.freeCount; ++i) {
    if (region.freePages[i] == pageNumber) return;
  }
  region.freePages[region.freeCount++] = pageNumber;
  --pagesInUse_;
  if (!region.hasFreePages) LinkWithFree(region);
  if (region.freeCount != kPagesPerRegion) return;
  // Wholly free: kept mapped while few are, so that the next tree takes its pages without
  // a map (and the kernel's clearing of them); beyond those it goes back at once.
  if (whollyFree_ < keptFreeRegions_) {
    ++whollyFree_;
    return;
  }
  UnlinkWithFree(region);
  Platform::FreeRegion(region.base, kRegionSize);
  const Accounting::UncountedScope uncounted;
  regions_.erase(found);
}

std::size_t PageProvider::RegionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return regions_.size();
}

std::uint64_t PageProvider::RegionsMapped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return regionsMapped_;
}

std::uint64_t PageProvider::PagesTaken() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pagesTaken_;
}

std::size_t PageProvider::PagesInUse() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pagesInUse_;
}

// ---------------------------------------------------------------------------------------
// Interned texts

namespace detail {

const InternedText* EmptyText() {
  // The header followed by the terminating zero of the empty text.
  struct EmptyEntry {
    InternedText header;
    char zero;
  };
  // Where the record has tail padding (64-bit platforms) the text's place lies in it; a
  // static object's padding is zero.
  static const EmptyEntry empty{{nullptr, 0, TextHash({}), 0, 0}, '\0'};
  static_assert(kInternedTextBytes <= offsetof(EmptyEntry, zero));
  return &empty.header;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------
// ValuePool

namespace {

constexpr std::size_t kInitialBuckets = 8;

constexpr std::size_t BlockSizeOf(std::size_t classIndex) {
  return (classIndex + 1) * ValuePool::kGranularity;
}

std::uint16_t& NextIndexOf(unsigned char* block) {
  return *reinterpret_cast<std::uint16_t*>(block);
}

bool HoldsText(const detail::InternedText& entry, std::uint32_t hash, std::string_view text) {
  return entry.hash == hash && entry.length == text.size() &&
         detail::SameBytes(entry.bytes(), text.data(), text.size());
}

}  // namespace

static_assert(ValuePool::kLargestBlock == 72);
static_assert(detail::InternedText::BlockSize(0) >= sizeof(detail::InternedText),
              "an entry's block holds the whole record");
static_assert(PageProvider::kPageSize / ValuePool::kGranularity - 1 <= 0xFFFF,
              "block indexes must fit 16 bits");
#if defined(__i386__)
static_assert(sizeof(detail::InternedText) == 20, "an entry's header keeps its reference size");
static_assert(ValuePool::kPageHeaderSize == 16);
static_assert(ValuePool::FirstBlockIndex(4) == 4);
static_assert(ValuePool::LastBlockIndex(ValuePool::kInlinePageSize, 4) == 35);
static_assert(ValuePool::FirstBlockIndex(72) == 1);
static_assert(ValuePool::LastBlockIndex(ValuePool::kInlinePageSize, 72) == 1);
#endif

namespace {

// Each pool's generations start at a multiple of 2^32 of their own, so that a pool made where
// a destroyed one lay never repeats one of its numbers.
std::uint64_t FirstTextGeneration() {
  static std::atomic<std::uint64_t> next{0};
  return next.fetch_add(std::uint64_t{1} << 32, std::memory_order_relaxed);
}

}  // namespace

ValuePool::ValuePool(PageProvider& provider)
    : provider_(provider), textGeneration_(FirstTextGeneration()) {
  for (std::size_t i = 0; i < kClassCount; ++i) {
    SizeClass& sizeClass = classes_[i];
    sizeClass.head = nullptr;
    auto* page = reinterpret_cast<PageHeader*>(sizeClass.inlinePage);
    SetUpPage(page, kInlinePageSize, BlockSizeOf(i));
    Link(sizeClass, page);
  }
}

ValuePool::~ValuePool() { Discard(); }

void ValuePool::Discard() noexcept {
  // Entries still interned belong to values that were never reset (or to a tree being
  // destroyed whole): those in the general heap are freed, the rest go with their pages.
  for (std::size_t i = 0; i < bucketCount_; ++i) {
    for (detail::InternedText* entry = buckets_[i]; entry != nullptr;) {
      detail::InternedText* next = entry->next;
      const std::size_t size = detail::InternedText::BlockSize(entry->length);
      if (size > kLargestBlock) ::operator delete(entry);
      entry = next;
    }
  }
  ::operator delete(buckets_);
  buckets_ = nullptr;
  bucketCount_ = 0;
  entryCount_ = 0;
  ++textGeneration_;
  while (large_ != nullptr) {
    LargeBlock* next = large_->next;
    ::operator delete(large_);
    large_ = next;
  }
  blobs_ = 0;
  for (PageHeader* page : pages_) provider_.ReturnPage(page);
  pages_.clear();
  for (SizeClass& sizeClass : classes_) sizeClass.head = nullptr;
}

void ValuePool::SetUpPage(PageHeader* page, std::size_t pageSize, std::size_t blockSize) {
  page->next = nullptr;
  page->previous = nullptr;
  page->pageSize = static_cast<std::uint16_t>(pageSize);
  page->used = 0;
  const std::size_t first = FirstBlockIndex(blockSize);
  const std::size_t last = LastBlockIndex(pageSize, blockSize);
  auto* bytes = reinterpret_cast<unsigned char*>(page);
  for (std::size_t k = first; k <= last; ++k) {
    NextIndexOf(bytes + k * blockSize) = static_cast<std::uint16_t>(k < last ? k + 1 : 0);
  }
  page->freeHead = static_cast<std::uint16_t>(first <= last ? first : 0);
  page->slot = 0;
}

ValuePool::PageHeader* ValuePool::TakePage(std::size_t blockSize) {
  // Page slots are 16 bits: 256 MiB of blocks in one tree.
  if (pages_.size() >= 0xFFFF) throw ValueLimitError(ValueLimitMessages::kPages);
  // Room first, so that a page once taken is always listed.
  if (pages_.size() == pages_.capacity()) pages_.reserve(2 * pages_.size() + 16);
  auto* page = static_cast<PageHeader*>(provider_.TakePage());
  SetUpPage(page, PageProvider::kPageSize, blockSize);
  page->slot = static_cast<std::uint16_t>(pages_.size());
  pages_.push_back(page);
  return page;
}

void ValuePool::ReturnPage(PageHeader* page) noexcept {
  PageHeader* last = pages_.back();
  pages_[page->slot] = last;
  last->slot = page->slot;
  pages_.pop_back();
  provider_.ReturnPage(page);
}

void ValuePool::Link(SizeClass& sizeClass, PageHeader* page) noexcept {
  page->previous = nullptr;
  page->next = sizeClass.head;
  if (sizeClass.head != nullptr) sizeClass.head->previous = page;
  sizeClass.head = page;
}

void* ValuePool::TakeBlock(SizeClass& sizeClass, PageHeader* page, std::size_t blockSize) noexcept {
  unsigned char* block = reinterpret_cast<unsigned char*>(page) + page->freeHead * blockSize;
  page->freeHead = NextIndexOf(block);
  ++page->used;
  if (page->freeHead == 0) Unlink(sizeClass, page);
  return block;
}

void* ValuePool::BorrowInlineBlock(std::size_t classIndex) noexcept {
  // The pieces of a small tree crowd a few classes (short texts and keys all round to
  // the same size), while the inline pages of the others stay unused. Rather than take
  // a provider page, a full class borrows a free block of a larger class's inline page
  // that is aligned at least as well as its own blocks.
  const std::size_t alignment = ClassAlignment(classIndex);
  for (std::size_t lender = classIndex + 1; lender < kClassCount; ++lender) {
    if (ClassAlignment(lender) < alignment) continue;
    auto* page = reinterpret_cast<PageHeader*>(classes_[lender].inlinePage);
    if (page->freeHead != 0) return TakeBlock(classes_[lender], page, BlockSizeOf(lender));
  }
  return nullptr;
}

void* ValuePool::AllocateSlowly(std::size_t size) {
  if (size == 0) size = 1;
  if (size > kLargestBlock) return ::operator new(size);
  const std::size_t classIndex = ClassIndex(size);
  const std::size_t blockSize = BlockSizeOf(classIndex);
  SizeClass& sizeClass = classes_[classIndex];
  if (sizeClass.head == nullptr) {
    if (void* borrowed = BorrowInlineBlock(classIndex)) return borrowed;
    Link(sizeClass, TakePage(blockSize));
  }
  return TakeBlock(sizeClass, sizeClass.head, blockSize);
}

void ValuePool::Free(void* block, std::size_t size) noexcept {
  if (block == nullptr) return;
  if (size == 0) size = 1;
  if (size > kLargestBlock) {
    ::operator delete(block);
    return;
  }
  auto* bytes = static_cast<unsigned char*>(block);
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  const auto inlineBegin = reinterpret_cast<std::uintptr_t>(classes_);
  std::size_t classIndex;
  unsigned char* pageBytes;
  bool inInlinePage;
  if (address - inlineBegin < sizeof(classes_)) {
    // An inline page's block, of its own class or lent to a smaller one: the page, and so
    // the block size, follow from the address.
    classIndex = (address - inlineBegin) / sizeof(SizeClass);
    pageBytes = classes_[classIndex].inlinePage;
    inInlinePage = true;
  } else {
    // Provider pages are page-aligned, so a block's page is its address rounded down.
    classIndex = ClassIndex(size);
    pageBytes = reinterpret_cast<unsigned char*>(
        address & ~static_cast<std::uintptr_t>(PageProvider::kPageSize - 1));
    inInlinePage = false;
  }
  const std::size_t blockSize = BlockSizeOf(classIndex);
  SizeClass& sizeClass = classes_[classIndex];
  auto* page = reinterpret_cast<PageHeader*>(pageBytes);
  if (page->freeHead == 0) Link(sizeClass, page);
  NextIndexOf(bytes) = page->freeHead;
  page->freeHead =
      static_cast<std::uint16_t>(static_cast<std::size_t>(bytes - pageBytes) / blockSize);
  --page->used;
  if (page->used == 0 && !inInlinePage) {
    Unlink(sizeClass, page);
    ReturnPage(page);
  }
}

void* ValuePool::AllocateLarge(std::size_t size) {
  if (size > static_cast<std::size_t>(-1) - sizeof(LargeBlock)) throw std::bad_alloc();
  auto* header = static_cast<LargeBlock*>(::operator new(sizeof(LargeBlock) + size));
  header->previous = nullptr;
  header->next = large_;
  if (large_ != nullptr) large_->previous = header;
  large_ = header;
  return header + 1;
}

void ValuePool::FreeLarge(void* block) noexcept {
  if (block == nullptr) return;
  LargeBlock* header = static_cast<LargeBlock*>(block) - 1;
  (header->previous != nullptr ? header->previous->next : large_) = header->next;
  if (header->next != nullptr) header->next->previous = header->previous;
  ::operator delete(header);
}

std::size_t ValuePool::UsedBlocks(std::size_t classIndex) const {
  // Full pages are unlinked, so only the listed pages are counted.
  std::size_t used = 0;
  for (const PageHeader* page = classes_[classIndex].head; page != nullptr; page = page->next) {
    used += static_cast<std::size_t>(page->used);
  }
  return used;
}

std::size_t ValuePool::ListedPages(std::size_t classIndex) const {
  std::size_t count = 0;
  for (const PageHeader* page = classes_[classIndex].head; page != nullptr; page = page->next) {
    ++count;
  }
  return count;
}

const ValuePool::PageHeader* ValuePool::InlinePage(std::size_t classIndex) const {
  return reinterpret_cast<const PageHeader*>(classes_[classIndex].inlinePage);
}

// ---------------------------------------------------------------------------------------
// The entry set

const detail::InternedText* ValuePool::FindEntry(std::string_view text) const {
  if (text.empty()) return detail::EmptyText();
  if (bucketCount_ == 0) return nullptr;
  const std::uint32_t hash = detail::TextHash(text);
  for (detail::InternedText* entry = buckets_[hash & (bucketCount_ - 1)]; entry != nullptr;
       entry = entry->next) {
    if (HoldsText(*entry, hash, text)) return entry;
  }
  return nullptr;
}

void ValuePool::GrowEntrySet() {
  const std::size_t newCount = bucketCount_ == 0 ? kInitialBuckets : bucketCount_ * 2;
  auto** newBuckets = static_cast<detail::InternedText**>(::operator new(newCount * sizeof(void*)));
  std::memset(static_cast<void*>(newBuckets), 0, newCount * sizeof(void*));
  for (std::size_t i = 0; i < bucketCount_; ++i) {
    for (detail::InternedText* entry = buckets_[i]; entry != nullptr;) {
      detail::InternedText* next = entry->next;
      detail::InternedText*& slot = newBuckets[entry->hash & (newCount - 1)];
      entry->next = slot;
      slot = entry;
      entry = next;
    }
  }
  ::operator delete(buckets_);
  buckets_ = newBuckets;
  bucketCount_ = newCount;
}

const detail::InternedText* ValuePool::Intern(std::string_view text) {
  if (text.empty()) return detail::EmptyText();
  return Intern(detail::HashedText{text, detail::TextHash(text)});
}

const detail::InternedText* ValuePool::Intern(const detail::HashedText& hashed) {
  const std::string_view text = hashed.text;
  if (text.empty()) return detail::EmptyText();
  const std::uint32_t hash = hashed.hash;
  if (bucketCount_ != 0) {
    for (detail::InternedText* entry = buckets_[hash & (bucketCount_ - 1)]; entry != nullptr;
         entry = entry->next) {
      if (HoldsText(*entry, hash, text)) {
        ++entry->refCount;
        return entry;
      }
    }
  }
  if (entryCount_ >= bucketCount_) GrowEntrySet();
  if (text.size() > 0xFFFFFFFEu) throw ValueLimitError(ValueLimitMessages::kTextLength);
  void* block = Allocate(detail::InternedText::BlockSize(text.size()));
  auto* entry = new (block) detail::InternedText{nullptr, detail::TextPrefix(text), hash, 1,
                                                 static_cast<std::uint32_t>(text.size())};
  // After the record is made: its tail padding may hold the first bytes.
  char* bytes = reinterpret_cast<char*>(block) + detail::kInternedTextBytes;
  std::memcpy(bytes, text.data(), text.size());
  bytes[text.size()] = '\0';
  detail::InternedText*& slot = buckets_[hash & (bucketCount_ - 1)];
  entry->next = slot;
  slot = entry;
  ++entryCount_;
  return entry;
}

void ValuePool::AddReference(const detail::InternedText* entry) noexcept {
  if (entry == detail::EmptyText()) return;
  ++const_cast<detail::InternedText*>(entry)->refCount;
}

void ValuePool::Release(const detail::InternedText* entry) noexcept {
  if (entry == nullptr || entry == detail::EmptyText()) return;
  auto* owned = const_cast<detail::InternedText*>(entry);
  if (--owned->refCount != 0) return;
  detail::InternedText** link = &buckets_[owned->hash & (bucketCount_ - 1)];
  while (*link != owned) link = &(*link)->next;
  *link = owned->next;
  --entryCount_;
  ++textGeneration_;
  Free(owned, detail::InternedText::BlockSize(owned->length));
}

}  // namespace Kavren
