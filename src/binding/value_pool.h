// The value memory pool: size-classed blocks for value trees, pages from one shared provider.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "binding/text_hash.h"

namespace Kavren {

/// A limit of one value tree was reached: its pool pages, a collection's elements or a
/// text's length. A length error whose text names the limit; the readers turn it into a
/// failure of their own form, so that no limit surfaces as a bare exception.
class ValueLimitError : public std::length_error {
 public:
  using std::length_error::length_error;
};

/// The texts of the tree limits (what() of a ValueLimitError).
namespace ValueLimitMessages {
inline constexpr char kPages[] = "more than 65535 pages (256 MiB) of values in one tree";
inline constexpr char kElements[] = "more than 268435455 elements in one collection";
inline constexpr char kTextLength[] = "a text longer than 4294967294 bytes";
}  // namespace ValueLimitMessages

/// The process-wide source of 4096-byte pages, cut from 64 KiB operating-system regions
/// of 16 pages each. The lowest free page of the lowest region with free pages is handed
/// out first. A region whose 16 pages are all returned stays mapped while no more than a
/// few regions (2 MiB for the process-wide provider) are wholly free, so that trees that
/// take pages and give them back again, as each read of a request body does, do not map
/// and unmap regions each time; a region that becomes wholly free beyond those is given
/// back to the operating system at once.
class PageProvider {
 public:
  static constexpr std::size_t kPageSize = 4096;
  static constexpr std::size_t kPagesPerRegion = 16;
  static constexpr std::size_t kRegionSize = kPageSize * kPagesPerRegion;
  /// Wholly free regions the process-wide provider keeps mapped.
  static constexpr std::size_t kKeptFreeRegions = 32;

  /// [thread-safe] The provider behind every pool; created on first use, never destroyed.
  static PageProvider& Instance();

  /// A provider of its own (tests), keeping up to `keptFreeRegions` wholly free regions
  /// mapped. Regions still held at destruction are released.
  explicit PageProvider(std::size_t keptFreeRegions = kKeptFreeRegions);
  ~PageProvider();
  PageProvider(const PageProvider&) = delete;
  PageProvider& operator=(const PageProvider&) = delete;

  /// [thread-safe] A page of kPageSize bytes, aligned to kPageSize. Throws std::bad_alloc
  /// when the operating system refuses a region.
  [[nodiscard]] void* TakePage();
  /// [thread-safe] Gives back a page of TakePage; unknown pages are ignored. Never
  /// allocates, so trees can be released when memory has run out.
  void ReturnPage(void* page) noexcept;

  /// [thread-safe] Regions currently held from the operating system, the wholly free one
  /// kept included.
  [[nodiscard]] std::size_t RegionCount() const;
  /// [thread-safe] Regions mapped from the operating system over the provider's life.
  [[nodiscard]] std::uint64_t RegionsMapped() const;
  /// [thread-safe] Pages handed out over the provider's life.
  [[nodiscard]] std::uint64_t PagesTaken() const;
  /// [thread-safe] Pages currently handed out.
  [[nodiscard]] std::size_t PagesInUse() const;

 private:
  struct Region {
    unsigned char* base;
    // The list of regions with free pages, in address order (see withFreePages_).
    Region* nextWithFree;
    Region* previousWithFree;
    bool hasFreePages;
    std::uint8_t freeCount;
    std::uint8_t freePages[kPagesPerRegion];  // stack of page numbers, top at freeCount - 1
  };

  void LinkWithFree(Region& region) noexcept;
  void UnlinkWithFree(Region& region) noexcept;

  // Guards every member below.
  mutable std::mutex mutex_;
  // Regions by base address; a page belongs to the region whose base is the greatest
  // one not above it. A region's node is made when it is mapped, so that returning a
  // page never allocates.
  std::map<std::uintptr_t, Region> regions_;
  // The regions that have free pages, lowest address first, linked through the regions.
  Region* withFreePages_ = nullptr;
  // Regions all of whose pages are free, and how many of them may stay mapped.
  std::size_t whollyFree_ = 0;
  std::size_t keptFreeRegions_;
  std::size_t pagesInUse_ = 0;
  std::uint64_t regionsMapped_ = 0;
  std::uint64_t pagesTaken_ = 0;
};

namespace detail {

/// An interned text of one pool, in one block: the header below followed by the text's
/// bytes and a terminating zero. `hash` is the TextHash of the bytes, `refCount` the
/// number of values and keys using the entry. The static empty entry (EmptyText) is never
/// counted or freed. Blocks of up to 72 bytes come from the pool, longer ones from the
/// general heap.
struct InternedText {
  InternedText* next;  // chain of the pool's entry set
  // TextPrefix of the text: most key comparisons are settled by it alone.
  std::uintptr_t prefix;
  std::uint32_t hash;
  std::uint32_t refCount;
  std::uint32_t length;

  /// The owned text (all of its bytes; zero-terminated).
  [[nodiscard]] std::string_view text() const noexcept { return {bytes(), length}; }
  [[nodiscard]] const char* bytes() const noexcept;
  /// The block size of an entry for a text of `length` bytes, a multiple of the entry's
  /// alignment so that a pool block of that size is aligned for it.
  static constexpr std::size_t BlockSize(std::size_t length);
};

/// Where an entry's text starts: right after `length`. On 64-bit platforms that is inside
/// the record's tail padding, which saves a short text the next larger block (the record
/// is never copied or assigned whole, so nothing writes its padding).
inline constexpr std::size_t kInternedTextBytes =
    offsetof(InternedText, length) + sizeof(InternedText::length);

inline const char* InternedText::bytes() const noexcept {
  return reinterpret_cast<const char*>(this) + kInternedTextBytes;
}

constexpr std::size_t InternedText::BlockSize(std::size_t length) {
  return (kInternedTextBytes + length + alignof(InternedText)) & ~(alignof(InternedText) - 1);
}

/// The one entry that stands for every empty text.
const InternedText* EmptyText();

/// The first bytes of `text`, as many as a pointer has (so that an entry is no larger than
/// it was with a pointer in this place), as a big-endian number, zero-filled: when the
/// prefixes of two texts differ they order the texts as a byte-wise comparison does.
inline std::uintptr_t TextPrefix(std::string_view text) noexcept {
  constexpr std::size_t kBytes = sizeof(std::uintptr_t);
  std::uintptr_t prefix = 0;
  const std::size_t count = text.size() < kBytes ? text.size() : kBytes;
  for (std::size_t i = 0; i < count; ++i) {
    prefix |= std::uintptr_t{static_cast<unsigned char>(text[i])} << (8 * (kBytes - 1 - i));
  }
  return prefix;
}

/// Equal bytes, for two texts of the same length: most texts are short, and two
/// overlapping word loads per side beat a call of memcmp.
inline bool SameBytes(const char* left, const char* right, std::size_t length) noexcept {
  const auto word = [](const char* bytes, auto zero) {
    decltype(zero) loaded;
    std::memcpy(&loaded, bytes, sizeof loaded);
    return loaded;
  };
  if (length > 16) return std::memcmp(left, right, length) == 0;
  if (length >= 8) {
    return word(left, std::uint64_t{}) == word(right, std::uint64_t{}) &&
           word(left + length - 8, std::uint64_t{}) == word(right + length - 8, std::uint64_t{});
  }
  if (length >= 4) {
    return word(left, std::uint32_t{}) == word(right, std::uint32_t{}) &&
           word(left + length - 4, std::uint32_t{}) == word(right + length - 4, std::uint32_t{});
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (left[i] != right[i]) return false;
  }
  return true;
}

/// Byte-wise order of two entries' texts ("B" < "a" < "ab").
inline bool TextLess(const InternedText& left, const InternedText& right) noexcept {
  if (left.prefix != right.prefix) return left.prefix < right.prefix;
  return left.text() < right.text();
}

}  // namespace detail

/// The pool of one value tree (aligned to 32 bytes: 64-bit cells keep their kind and flag
/// in the low bits of its address): 18 size classes of 4 to 72 bytes, each with an inline
/// 144-byte first page and further 4096-byte pages from a PageProvider, plus the tree's
/// set of interned texts. Used by one thread at a time; it has no lock.
class alignas(32) ValuePool {
 public:
  static constexpr std::size_t kClassCount = 18;
  static constexpr std::size_t kGranularity = 4;
  static constexpr std::size_t kLargestBlock = kClassCount * kGranularity;  // 72
  static constexpr std::size_t kInlinePageSize = 144;

  /// Page geometry. The header opens every page; block k of a page starts at byte
  /// k * blockSize; a free block holds the index of the next free block in its first 16
  /// bits (0: none).
  struct PageHeader {
    PageHeader* next;
    PageHeader* previous;
    std::uint16_t pageSize;
    std::int16_t used;
    std::uint16_t freeHead;  // 0: the page is full (index 0 lies inside the header)
    // Provider pages: the page's place in the pool's list of pages it holds (in the
    // header's padding, so the header keeps its size).
    std::uint16_t slot;
  };
  static constexpr std::size_t kPageHeaderSize = sizeof(PageHeader);

  /// The first block index of a page: the smallest k with k * blockSize >= the header size.
  static constexpr std::size_t FirstBlockIndex(std::size_t blockSize) {
    return (kPageHeaderSize + blockSize - 1) / blockSize;
  }
  /// The last block index of a page: pageSize / blockSize - 1.
  static constexpr std::size_t LastBlockIndex(std::size_t pageSize, std::size_t blockSize) {
    return pageSize / blockSize - 1;
  }
  /// The class serving `size` bytes (1 to 72): rounded up to a multiple of 4, then / 4 - 1.
  static constexpr std::size_t ClassIndex(std::size_t size) {
    return (size + kGranularity - 1) / kGranularity - 1;
  }
  /// The alignment of a class's blocks: the largest power of two dividing its block
  /// size, at most 16.
  static constexpr std::size_t ClassAlignment(std::size_t classIndex) {
    const std::size_t blockSize = (classIndex + 1) * kGranularity;
    const std::size_t alignment = blockSize & (~blockSize + 1);
    return alignment < 16 ? alignment : 16;
  }

  explicit ValuePool(PageProvider& provider = PageProvider::Instance());
  /// Every block should have been freed; provider pages still held are returned anyway.
  ~ValuePool();
  ValuePool(const ValuePool&) = delete;
  ValuePool& operator=(const ValuePool&) = delete;

  /// Gives every provider page back at once and frees the texts still interned and the
  /// blocks of AllocateLarge, without freeing blocks one by one: for a tree being destroyed
  /// whole. Afterwards the pool holds nothing and may only be destroyed. Other blocks from
  /// the general heap (Allocate's sizes above 72) are the caller's to free first.
  void Discard() noexcept;

  /// A block of at least `size` bytes (0 is served as 1), aligned to the largest power of
  /// two dividing its class size (up to 16). A class whose pages are all full first
  /// borrows a free block of a larger class's inline page (aligned at least as well), and
  /// only then takes a provider page. Sizes above 72 come from the general heap. Throws
  /// std::bad_alloc when no memory is left, and ValueLimitError when the tree would hold
  /// more than 65535 provider pages.
  [[nodiscard]] void* Allocate(std::size_t size) {
    if (size - 1 < kLargestBlock) {  // 1 to 72: a block of a page with free blocks
      const std::size_t classIndex = ClassIndex(size);
      SizeClass& sizeClass = classes_[classIndex];
      PageHeader* page = sizeClass.head;
      if (page != nullptr) {
        unsigned char* block = reinterpret_cast<unsigned char*>(page) +
                               page->freeHead * (classIndex + 1) * kGranularity;
        page->freeHead = *reinterpret_cast<const std::uint16_t*>(block);
        ++page->used;
        if (page->freeHead == 0) Unlink(sizeClass, page);
        return block;
      }
    }
    return AllocateSlowly(size);
  }
  /// Returns a block of Allocate with the same `size`; null is ignored. The block must
  /// come from this pool (not checked).
  void Free(void* block, std::size_t size) noexcept;

  /// A block of `size` bytes from the general heap (aligned to 16) that the pool keeps
  /// track of: given back with FreeLarge, or by Discard with everything else, so that a
  /// tree destroyed whole need not find its long arrays one by one.
  [[nodiscard]] void* AllocateLarge(std::size_t size);
  /// Returns a block of AllocateLarge; null is ignored.
  void FreeLarge(void* block) noexcept;

  /// Blobs of this pool's tree count themselves here: their bytes live in the general
  /// heap, so only a tree holding some must be walked when it is destroyed whole.
  void CountBlob(std::ptrdiff_t change) noexcept { blobs_ += change; }
  [[nodiscard]] bool HoldsBlobs() const noexcept { return blobs_ != 0; }

  /// The pool's entry for `text`, created when absent; its count is incremented. The
  /// empty text yields the static empty entry.
  [[nodiscard]] const detail::InternedText* Intern(std::string_view text);
  /// As above for a text already hashed.
  [[nodiscard]] const detail::InternedText* Intern(const detail::HashedText& hashed);
  /// Adds one use to an entry of this pool (or the static empty entry).
  static void AddReference(const detail::InternedText* entry) noexcept;
  /// Drops one use of an entry of this pool; at zero it is removed and freed. The
  /// static empty entry is skipped.
  void Release(const detail::InternedText* entry) noexcept;
  /// The entry for `text` if this pool has one, else null; changes no count.
  [[nodiscard]] const detail::InternedText* FindEntry(std::string_view text) const;
  /// Interned texts held now (the static empty entry not included).
  [[nodiscard]] std::size_t EntryCount() const { return entryCount_; }
  /// A number that changes whenever an entry of this pool is freed, and that no other pool
  /// in the process has had: while it stays the same, every entry seen under it is alive
  /// and holds the same text. The readers' key and shape memories rely on it instead of
  /// holding references.
  [[nodiscard]] std::uint64_t TextGeneration() const noexcept { return textGeneration_; }

  /// Introspection for tests: blocks handed out from the pages on the class's list, and
  /// the number of those pages (the inline page included while it has free blocks).
  [[nodiscard]] std::size_t UsedBlocks(std::size_t classIndex) const;
  [[nodiscard]] std::size_t ListedPages(std::size_t classIndex) const;
  /// The inline page of a class (tests read its header).
  [[nodiscard]] const PageHeader* InlinePage(std::size_t classIndex) const;

 private:
  struct SizeClass {
    PageHeader* head;  // pages with free blocks, most recently freed-into first
    alignas(16) unsigned char inlinePage[kInlinePageSize];
  };

  static void SetUpPage(PageHeader* page, std::size_t pageSize, std::size_t blockSize);
  // Hands out the first free block of `page`, a listed page of `sizeClass`.
  static void* TakeBlock(SizeClass& sizeClass, PageHeader* page, std::size_t blockSize) noexcept;
  // A free block of a larger, at least as well aligned class's inline page; null if none.
  void* BorrowInlineBlock(std::size_t classIndex) noexcept;
  // Takes a provider page into the pool's list of held pages.
  PageHeader* TakePage(std::size_t blockSize);
  // Gives a provider page back and drops it from the list.
  void ReturnPage(PageHeader* page) noexcept;
  static void Link(SizeClass& sizeClass, PageHeader* page) noexcept;
  static void Unlink(SizeClass& sizeClass, PageHeader* page) noexcept {
    if (page->previous != nullptr) {
      page->previous->next = page->next;
    } else {
      sizeClass.head = page->next;
    }
    if (page->next != nullptr) page->next->previous = page->previous;
    page->next = nullptr;
    page->previous = nullptr;
  }
  // Allocate when the class has no page with free blocks, for size 0, and for sizes
  // above 72.
  void* AllocateSlowly(std::size_t size);
  void GrowEntrySet();

  PageProvider& provider_;
  SizeClass classes_[kClassCount];
  // Every provider page the pool holds, listed or full; PageHeader::slot is the index.
  std::vector<PageHeader*> pages_;
  // The entry set: chained hash buckets (an array from the general heap, 8 at first).
  detail::InternedText** buckets_ = nullptr;
  std::size_t bucketCount_ = 0;
  std::size_t entryCount_ = 0;
  // The blocks of AllocateLarge, each behind this header, most recent first.
  struct alignas(16) LargeBlock {
    LargeBlock* next;
    LargeBlock* previous;
  };
  LargeBlock* large_ = nullptr;
  std::ptrdiff_t blobs_ = 0;
  // See TextGeneration.
  std::uint64_t textGeneration_;
};

/// A standard allocator bound to a pool: single objects of at most 72 bytes come from
/// the pool, arrays and larger objects from the general heap.
template <class T>
class PoolAllocator {
 public:
  using value_type = T;

  explicit PoolAllocator(ValuePool* pool) noexcept : pool_(pool) {}
  // Implicit: containers convert an allocator to its rebound type.
  template <class U>
  PoolAllocator(const PoolAllocator<U>& other) noexcept  // NOLINT(google-explicit-constructor)
      : pool_(other.pool()) {}

  [[nodiscard]] T* allocate(std::size_t count) {
    if (count == 1 && sizeof(T) <= ValuePool::kLargestBlock && alignof(T) <= 16) {
      return static_cast<T*>(pool_->Allocate(sizeof(T)));
    }
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(::operator new(count * sizeof(T)));
  }
  void deallocate(T* block, std::size_t count) noexcept {
    if (count == 1 && sizeof(T) <= ValuePool::kLargestBlock && alignof(T) <= 16) {
      pool_->Free(block, sizeof(T));
    } else {
      ::operator delete(block);
    }
  }

  ValuePool* pool() const noexcept { return pool_; }
  template <class U>
  bool operator==(const PoolAllocator<U>& other) const noexcept {
    return pool_ == other.pool();
  }

 private:
  ValuePool* pool_;
};

}  // namespace Kavren
