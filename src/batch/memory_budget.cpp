#include "batch/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace velda {

qint64 DefaultMemoryBudget() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return qint64(4) << 30;
    return static_cast<qint64>(pages) * size / 2;
}

Status MemoryBudget::Acquire(qint64 bytes) {
    if (bytes > total_) {
        return Status::Error(ErrorCode::TooLarge,
                             QStringLiteral("needs about %1 MiB, more than the run's memory "
                                            "budget of %2 MiB")
                                 .arg((bytes + (1 << 20) - 1) >> 20)
                                 .arg(total_ >> 20));
    }
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return used_ + bytes <= total_; });
    used_ += bytes;
    return Status::Ok();
}

void MemoryBudget::Release(qint64 bytes) {
    {
        std::lock_guard lock(mutex_);
        used_ -= bytes;
    }
    freed_.notify_all();
}

void ReuseFreedPictureMemory(qint64 keepBytes) {
#if defined(__GLIBC__)
    // Blocks larger than a thread's arena can hold would be mapped afresh
    // each time; one arena, grown without bound, serves every worker. Large
    // blocks are few, so the workers seldom wait for each other on it.
    const int keep = static_cast<int>(std::min<qint64>(keepBytes, INT32_MAX / 2));
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 2 * keep);
#if defined(MADV_HUGEPAGE)
    // The heap the pictures will use is grown now and marked for huge
    // pages: a 24-megapixel picture then faults in some fifty times rather
    // than 25,000, and its pixels need far fewer TLB entries. Memory that
    // is never touched costs nothing.
    char* start = static_cast<char*>(sbrk(0));
    if (void* block = malloc(static_cast<size_t>(keep))) {
        free(block);
        char* end = static_cast<char*>(sbrk(0));
        constexpr uintptr_t kHuge = uintptr_t(2) << 20;
        const uintptr_t from = (reinterpret_cast<uintptr_t>(start) + kHuge - 1) & ~(kHuge - 1);
        const uintptr_t to = reinterpret_cast<uintptr_t>(end) & ~(kHuge - 1);
        if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
#endif
#else
    (void)keepBytes;
#endif
}

Status Reservation::Acquire(MemoryBudget* budget, qint64 bytes) {
    Reset();
    if (!budget) return Status::Ok();
    if (Status s = budget->Acquire(bytes); !s.ok()) return s;
    budget_ = budget;
    bytes_ = bytes;
    return Status::Ok();
}

void Reservation::Reset() {
    if (budget_) budget_->Release(bytes_);
    budget_ = nullptr;
    bytes_ = 0;
}

}  // namespace velda
