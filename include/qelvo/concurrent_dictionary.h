/// @file
/// ConcurrentDictionary: a key-to-value map shared by many threads. Readers run
/// together; writers are serialised; a read issued after a write call has returned
/// (from any thread) sees that write. Iteration walks one consistent copy.
///
/// @code
///   qelvo::ConcurrentDictionary<std::string, int> counts("example.counts");
///   counts.set("a", 1);
///   counts.get("a");             // 1
///   counts.set("a", std::nullopt);  // removes "a"
///   for (const auto& [key, value] : counts) { ... }
/// @endcode
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace qelvo {

/// A key-to-value map shared by many threads (see above): every member may be called from any
/// thread.
template <class Key, class Value, class Hash = std::hash<Key>>
class ConcurrentDictionary {
 public:
  /// The map behind it, as `contents()` copies it.
  using Map = std::unordered_map<Key, Value, Hash>;

  /// An empty map; `label` names it (for diagnostics only).
  explicit ConcurrentDictionary(std::string label) : label_(std::move(label)) {}

  const std::string& label() const { return label_; }  ///< the name given at construction

  /// The value stored for `key`, if any.
  std::optional<Value> get(const Key& key) const {
    std::shared_lock lock(mutex_);
    auto it = map_.find(key);
    if (it == map_.end()) return std::nullopt;
    return it->second;
  }

  /// Stores `value` for `key`, or removes `key` when `value` is empty.
  void set(const Key& key, std::optional<Value> value) {
    std::unique_lock lock(mutex_);
    if (value) {
      map_.insert_or_assign(key, std::move(*value));
    } else {
      map_.erase(key);
    }
  }

  /// Looks `key` up and, when absent, stores `make()` for it, as one step: two callers
  /// racing for the same key get the same value. Returns the stored value and whether
  /// this call inserted it. `make` runs under the write lock and must not call back.
  template <class Make>
  std::pair<Value, bool> getOrInsert(const Key& key, Make&& make) {
    {
      std::shared_lock lock(mutex_);
      if (auto it = map_.find(key); it != map_.end()) return {it->second, false};
    }
    std::unique_lock lock(mutex_);
    if (auto it = map_.find(key); it != map_.end()) return {it->second, false};
    auto [it, inserted] = map_.emplace(key, std::forward<Make>(make)());
    return {it->second, inserted};
  }

  /// Removes `key` only while it still maps to `expected`. Returns whether it did.
  bool removeIf(const Key& key, const Value& expected) {
    std::unique_lock lock(mutex_);
    auto it = map_.find(key);
    if (it == map_.end() || !(it->second == expected)) return false;
    map_.erase(it);
    return true;
  }

  /// A copy of the whole map.
  Map contents() const {
    std::shared_lock lock(mutex_);
    return map_;
  }

  /// How many keys it holds now (another thread may change it at once).
  std::size_t size() const {
    std::shared_lock lock(mutex_);
    return map_.size();
  }
  bool empty() const { return size() == 0; }  ///< whether it holds no key now

  /// The end of an iteration.
  struct sentinel {};

  /// Iteration over one copy of the map, taken when the walk starts.
  class const_iterator {
   public:
    using value_type = typename Map::value_type;  ///< a key and its value
    using reference = const value_type&;  ///< valid while the iterator lives
    using difference_type = std::ptrdiff_t;  ///< for std::input_iterator

    reference operator*() const { return *it_; }  ///< the current key and value
    const value_type* operator->() const { return &*it_; }  ///< the current key and value
    /// The next entry of the copy.
    const_iterator& operator++() {
      ++it_;
      return *this;
    }
    /// Whether the walk has passed the last entry.
    friend bool operator==(const const_iterator& a, sentinel) { return a.it_ == a.copy_->end(); }

   private:
    friend class ConcurrentDictionary;
    explicit const_iterator(std::shared_ptr<const Map> copy)
        : copy_(std::move(copy)), it_(copy_->begin()) {}
    std::shared_ptr<const Map> copy_;
    typename Map::const_iterator it_;
  };

  /// A walk over a copy of the map taken now: writes during the walk do not show in it.
  const_iterator begin() const { return const_iterator(std::make_shared<const Map>(contents())); }
  sentinel end() const { return {}; }  ///< where every walk ends

 private:
  std::string label_;
  mutable std::shared_mutex mutex_;
  Map map_;
};

}  // namespace qelvo
