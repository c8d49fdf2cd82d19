#include "compressed/job_ring.hpp"

namespace tq5 {

std::optional<std::uint64_t> job_ring::claim() {
    std::unique_lock lock(mutex_);
    slot_free_.wait(lock, [&] { return stopped_ || claimed_ < taken_ + slots(); });
    if (stopped_) return std::nullopt;
    return claimed_++;
}

void job_ring::hand_over(std::uint64_t job) {
    {
        std::lock_guard lock(mutex_);
        ready_[slot_of(job)] = true;
    }
    job_ready_.notify_all();
}

std::uint64_t job_ring::take() {
    std::unique_lock lock(mutex_);
    job_ready_.wait(lock, [&] { return bool(ready_[slot_of(taken_)]); });
    return taken_;
}

void job_ring::release() {
    {
        std::lock_guard lock(mutex_);
        ready_[slot_of(taken_)] = false;
        ++taken_;
    }
    slot_free_.notify_all();
}

void job_ring::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    slot_free_.notify_all();
}

void job_ring::reset() {
    std::lock_guard lock(mutex_);
    ready_.assign(ready_.size(), false);
    claimed_ = 0;
    taken_ = 0;
    stopped_ = false;
}

} // namespace tq5
