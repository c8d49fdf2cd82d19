#include "compressed/read_ahead.hpp"

#include "compressed/job_ring.hpp"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>

namespace tq5 {

std::int64_t next_packed(packed_input& input, const char*& data) {
    if (!input.taken_given) {
        input.taken_given = true;
        if (!input.taken.empty()) {
            data = input.taken.data();
            return static_cast<std::int64_t>(input.taken.size());
        }
    }
    // The bytes taken are used up once more are asked for.
    if (!input.taken.empty()) input.taken = std::string();
    if (input.failed) return -1;
    if (input.ended) return 0;
    const std::int64_t got =
        input.file.read(input.file.context, input.buffer.data(), input.buffer.size());
    if (got < 0) input.failed = true;
    if (got == 0) input.ended = true;
    data = input.buffer.data();
    return got;
}

namespace {

constexpr std::size_t slot_count = 6;
constexpr std::size_t job_text = 256 * 1024;

struct text_job {
    std::vector<char> text = std::vector<char>(job_text);
    std::size_t size = 0;
    std::int64_t end = 1; // 1: more to come, else the decoder's 0 or -1
};

class ahead_reader final : public compressed_reader {
  public:
    explicit ahead_reader(std::unique_ptr<text_decoder> decoder) : decoder_(std::move(decoder)) {}
    ~ahead_reader() override {
        ring_.stop();
        if (thread_.joinable()) thread_.join();
    }

    void start(const compressed_options& options) {
        if (options.thread_limit == 0) return;
        jobs_.resize(ring_.slots());
        try {
            thread_ = std::thread([this] { produce(); });
        } catch (const std::system_error&) {
            jobs_.clear();
        }
    }

    std::int64_t read(char* buffer, std::size_t capacity) override {
        if (!thread_.joinable()) return decoder_->decode(buffer, capacity);
        for (;;) {
            if (reading_ == nullptr) {
                reading_ = &jobs_[ring_.slot_of(ring_.take())];
                read_at_ = 0;
            }
            text_job& job = *reading_;
            if (read_at_ < job.size) {
                const std::size_t count = std::min(capacity, job.size - read_at_);
                std::memcpy(buffer, job.text.data() + read_at_, count);
                read_at_ += count;
                return static_cast<std::int64_t>(count);
            }
            if (job.end <= 0) return job.end;
            ring_.release();
            reading_ = nullptr;
        }
    }

  private:
    void produce() {
        for (;;) {
            const std::optional<std::uint64_t> number = ring_.claim();
            if (!number) return;
            text_job& job = jobs_[ring_.slot_of(*number)];
            job.size = 0;
            job.end = 1;
            while (job.size < job.text.size()) {
                const std::int64_t got =
                    decoder_->decode(job.text.data() + job.size, job.text.size() - job.size);
                if (got <= 0) {
                    job.end = got;
                    break;
                }
                job.size += static_cast<std::size_t>(got);
            }
            const std::int64_t end = job.end; // once handed over, the job is the reader's
            ring_.hand_over(*number);
            if (end <= 0) return;
        }
    }

    std::unique_ptr<text_decoder> decoder_;
    job_ring ring_{slot_count};
    std::vector<text_job> jobs_;
    std::thread thread_;
    text_job* reading_ = nullptr;
    std::size_t read_at_ = 0;
};

} // namespace

compressed_reader_ptr read_ahead(std::unique_ptr<text_decoder> decoder,
                                 const compressed_options& options) {
    auto reader = std::make_unique<ahead_reader>(std::move(decoder));
    reader->start(options);
    return reader;
}

} // namespace tq5
