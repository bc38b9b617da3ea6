// Work on many files spread over a few threads: the bundle's cost is per file (system
// calls, inflating, hashing), and one thread leaves the other cores idle.
//
//   auto failed = forEachInOrder(entries.size(), workersFor(entries.size()),
//                                [&](std::size_t index, std::size_t worker) {
//                                  return write(entries[index], buffers[worker]);
//                                });
//   if (failed) report(*failed);   // the lowest index whose work failed
//
// The threads are made for the call and joined before it returns (the calling thread is
// worker 0), so nothing outlives it and no thread is ever made per item.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>

namespace qelvo::platform {

// How many workers `items` are worth: one per core, at most 4, and none beyond the
// first for small counts (a thread costs more than a few files).
std::size_t workersFor(std::size_t items);

// Runs `work(index, worker)` for the indices 0 to count-1, claimed in increasing order,
// on `workers` threads; `worker` (below `workers`) names the thread,
// for state of its own. `work` returns false when it failed: indices above it are then
// no longer started, while every index below it still runs, so the index returned, the
// lowest that failed, is the one a loop in index order would have stopped at. nullopt
// when every call succeeded. `work` must not throw.
std::optional<std::size_t> forEachInOrder(
    std::size_t count, std::size_t workers,
    const std::function<bool(std::size_t index, std::size_t worker)>& work);

}  // namespace qelvo::platform
