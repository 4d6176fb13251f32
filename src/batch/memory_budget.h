#pragma once

#include <QtGlobal>
#include <condition_variable>
#include <mutex>

#include "imaging/status.h"

namespace velda {

// Half the machine's physical memory: what a run may hold at once unless
// told otherwise.
qint64 DefaultMemoryBudget();

// The memory a run may hold in decoded pictures at once. A file is admitted
// only when its estimate fits beside the files in progress; one that alone
// exceeds the whole budget fails at once.
class MemoryBudget {
  public:
    explicit MemoryBudget(qint64 bytes) : total_(bytes) {}
    qint64 total() const { return total_; }

    // Waits until bytes fit, then holds them. TooLarge when they never can.
    Status Acquire(qint64 bytes);
    void Release(qint64 bytes);

  private:
    const qint64 total_;
    qint64 used_ = 0;
    std::mutex mutex_;
    std::condition_variable freed_;
};

// Lets the allocator keep the memory of one file's pictures for the next
// file rather than give it back to the system and fault it in again page
// by page: large blocks come from the heap instead of mappings of their
// own, and up to keepBytes of freed memory stays with the process. For
// programs that process picture after picture; call before any thread
// starts.
void ReuseFreedPictureMemory(qint64 keepBytes);

// Memory held from a budget for one file, given back when it goes.
class Reservation {
  public:
    Reservation() = default;
    ~Reservation() { Reset(); }
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;
    Status Acquire(MemoryBudget* budget, qint64 bytes);
    void Reset();

  private:
    MemoryBudget* budget_ = nullptr;
    qint64 bytes_ = 0;
};

}  // namespace velda
