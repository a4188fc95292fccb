// One ordered notification store: its records, their numbering and their announcements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Kavren::Client::PlayerMessaging {

/// The notifications of one kind, oldest first, with the counter that numbers them and
/// the state of their announcement. Record has an `id` and a `msgId`; its default value
/// is the empty record.
/// [thread-safe] Guarded by the owner's lock, which is never held while calling the host.
/// Announcements are made one at a time, by one thread, and the last one always carries
/// the current head; a change made while the store is being announced (on another thread,
/// or from inside the announcement on the same one) is announced by the announcing thread
/// once its current announcement returns.
template <class Record>
class NotificationStore {
 public:
  /// `lock` guards this store beside what its owner keeps under it (a removal and the
  /// owner's state are then read in one step); `uri` is the resource it is announced as.
  NotificationStore(std::mutex& lock, const char* uri) : lock_(lock), uri_(uri) {}
  NotificationStore(const NotificationStore&) = delete;
  NotificationStore& operator=(const NotificationStore&) = delete;

  [[nodiscard]] const char* Uri() const { return uri_; }

  /// The head (a copy), or the empty record.
  [[nodiscard]] Record Head() const {
    std::lock_guard<std::mutex> guard(lock_);
    return HeadLocked();
  }

  /// A copy of the records, oldest first.
  [[nodiscard]] std::vector<Record> Records() const {
    std::lock_guard<std::mutex> guard(lock_);
    return records_;
  }

  /// The records the store has room for without growing.
  [[nodiscard]] std::size_t Capacity() const {
    std::lock_guard<std::mutex> guard(lock_);
    return records_.capacity();
  }

  /// Increments the counter and answers its new value.
  [[nodiscard]] std::int32_t NextId() {
    std::lock_guard<std::mutex> guard(lock_);
    return ++lastId_;
  }

  /// Appends `record` with the id it has.
  void Append(const Record& record) {
    std::lock_guard<std::mutex> guard(lock_);
    records_.push_back(record);
  }

  /// Takes `idsTaken` ids and appends `record` numbered with the last of them, in one
  /// step: the host runs pushes on several threads, and the store must stay in id order.
  void AppendNumbered(Record record, std::int32_t idsTaken) {
    std::lock_guard<std::mutex> guard(lock_);
    lastId_ += idsTaken;
    record.id = lastId_;
    records_.push_back(std::move(record));
  }

  /// Removes the first record whose id is `id` and answers its msgId; nothing when the
  /// store holds no such id. `alongside` runs in the same locked step.
  template <class Alongside>
  [[nodiscard]] std::optional<std::string> Remove(std::int32_t id, Alongside alongside) {
    std::lock_guard<std::mutex> guard(lock_);
    alongside();
    for (auto it = records_.begin(); it != records_.end(); ++it) {
      if (it->id == id) {
        std::string msgId = std::move(it->msgId);
        records_.erase(it);
        ReleaseSpareRoom();
        return msgId;
      }
    }
    return std::nullopt;
  }

  /// Empties the store without announcing; the counter keeps counting.
  void Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    records_.clear();
    ReleaseSpareRoom();
  }

  /// Publishes the head with `publish(uri, head)`, called without the lock, again and
  /// again while the store changes meanwhile; returns at once when another announcement
  /// of the store is running, which then carries this change.
  template <class Publish>
  void Announce(Publish publish) {
    // No lock is held while publishing: a host that delivers the event synchronously may
    // call any endpoint from inside it, on this thread, and that call's own announcement
    // only marks the store changed. Every change is followed by an announcement that
    // either runs itself or marks the running one, which looks at the mark under the same
    // lock before it finishes: so the last announcement carries the current head.
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (announcing_) {
        changedWhileAnnouncing_ = true;
        return;
      }
      announcing_ = true;
    }
    try {
      for (;;) {
        Record head;
        {
          std::lock_guard<std::mutex> guard(lock_);
          changedWhileAnnouncing_ = false;
          head = HeadLocked();
        }
        publish(uri_, head);
        std::lock_guard<std::mutex> guard(lock_);
        if (!changedWhileAnnouncing_) {
          announcing_ = false;
          return;
        }
      }
    } catch (...) {
      // The store must stay announceable; the failure is reported where the host called.
      std::lock_guard<std::mutex> guard(lock_);
      announcing_ = false;
      throw;
    }
  }

 private:
  [[nodiscard]] Record HeadLocked() const { return records_.empty() ? Record{} : records_.front(); }

  // A store keeps the room of its fullest moment unless told otherwise: an empty store,
  // or one down to a quarter of its room, gives the room back. Shrinking at a quarter
  // (not at a half) keeps a store that grows and shrinks around one size from moving its
  // records on every change.
  void ReleaseSpareRoom() {
    if (records_.empty() || records_.size() < records_.capacity() / 4) records_.shrink_to_fit();
  }

  std::mutex& lock_;
  const char* const uri_;
  // Guarded by lock_.
  std::vector<Record> records_;
  std::int32_t lastId_ = 0;
  // Whether the store is being announced, and whether it changed since the head being
  // announced was read.
  bool announcing_ = false;
  bool changedWhileAnnouncing_ = false;
};

}  // namespace Kavren::Client::PlayerMessaging
