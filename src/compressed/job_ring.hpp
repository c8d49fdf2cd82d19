// An ordered ring of jobs between threads: the producers claim the slots in
// turn, fill them side by side and hand each one over when it is done; one
// consumer takes them in the order they were claimed and frees each slot
// when it has used it.  All the waiting and waking of the gzip reader is
// here: what a job holds is the caller's business (its slot number picks
// the job in the caller's own array).
//
// The rules, each under the one mutex:
//   - a producer may claim job `claimed` while it is fewer than `slots`
//     jobs ahead of the one being taken, and waits otherwise (`slot_free`);
//   - the consumer waits until the job it takes is handed over
//     (`job_ready`);
//   - `stop` releases every producer that waits, and every later claim
//     fails; the consumer never waits on a stopped ring (the caller stops
//     it only once no job is to come, and joins its producers).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace tq5 {

class job_ring {
  public:
    explicit job_ring(std::size_t slots) : ready_(slots, false) {}

    std::size_t slots() const { return ready_.size(); }
    std::size_t slot_of(std::uint64_t job) const {
        return static_cast<std::size_t>(job % ready_.size());
    }

    // Producers: waits for a free slot and claims the next job, in order;
    // nothing once the ring is stopped.
    std::optional<std::uint64_t> claim();
    // The job is filled: the consumer may take it.
    void hand_over(std::uint64_t job);

    // The consumer: waits until the next job in order is handed over and
    // returns its number.
    std::uint64_t take();
    // The job taken last is used up: its slot is free again.
    void release();

    // Ends all claiming: waiting producers return with nothing.
    void stop();

    // With no producer left (their threads joined): the jobs claimed after
    // the one taken, and a fresh start with every slot free.
    std::uint64_t first_after_taken() const { return taken_ + 1; }
    std::uint64_t claimed() const { return claimed_; }
    void reset();

  private:
    std::mutex mutex_;
    std::condition_variable slot_free_;
    std::condition_variable job_ready_;
    std::vector<bool> ready_;   // by slot: handed over and not yet released
    std::uint64_t claimed_ = 0; // jobs claimed so far
    std::uint64_t taken_ = 0;   // the job the consumer takes or holds
    bool stopped_ = false;
};

} // namespace tq5
