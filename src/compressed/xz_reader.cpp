// xz: streams one after another, stream padding between and after them,
// each block checked by liblzma against its check, and each stream against
// its index.  liblzma decodes the blocks on threads of its own, as many as
// the reader's threads, within the memory limit: a block that needs more
// is decoded in the calling thread instead.  A thread the system refuses
// fails liblzma's whole decoding (it reports no memory): the file is then
// read again from its start in one thread, and the text already handed
// out is passed over; an input that cannot be read again (a pipe) is
// decoded in one thread from the start.
#include "compressed/read_ahead.hpp"

#include <lzma.h>

#include <algorithm>
#include <cstring>

namespace tq5 {

namespace {

class xz_reading final : public text_decoder {
  public:
    xz_reading(packed_input input, const compressed_options& options)
        : input_(std::move(input)), options_(options) {
        // An input that cannot be read again is decoded in one thread from
        // the start: a refused thread could not be recovered from.
        if (options.rewind == nullptr) {
            start_in_one_thread();
            return;
        }
        lzma_mt mt{};
        mt.flags = LZMA_CONCATENATED;
        mt.threads = std::max(options.threads, 1u);
        mt.memlimit_threading = std::max<std::uint64_t>(options.memory_limit, 1);
        mt.memlimit_stop = UINT64_MAX;
        working_ = lzma_stream_decoder_mt(&stream_, &mt) == LZMA_OK;
    }
    ~xz_reading() override { lzma_end(&stream_); }

    std::int64_t decode(char* buffer, std::size_t capacity) override {
        for (;;) {
            if (state_ != 1) return state_;
            const std::int64_t got = decode_some(buffer, capacity);
            if (got == -2) {
                if (!read_again()) return state_ = -1;
                continue;
            }
            if (got <= 0) return got;
            // Text handed out before the reading began again.
            const auto count = static_cast<std::size_t>(got);
            const std::size_t passed =
                static_cast<std::size_t>(std::min<std::uint64_t>(skip_, count));
            skip_ -= passed;
            handed_ += count - passed;
            if (passed == count) continue;
            std::memmove(buffer, buffer + passed, count - passed);
            return static_cast<std::int64_t>(count - passed);
        }
    }

  private:
    // As decode, or -2 where the threaded decoding ran out of memory or
    // threads.
    std::int64_t decode_some(char* buffer, std::size_t capacity) {
        if (!working_) return threaded_ ? -2 : fail(0);
        stream_.next_out = reinterpret_cast<std::uint8_t*>(buffer);
        stream_.avail_out = capacity;
        while (stream_.avail_out == capacity) {
            if (stream_.avail_in == 0 && !at_end_) {
                const char* data = nullptr;
                const std::int64_t got = next_packed(input_, data);
                if (got < 0) return fail(0);
                at_end_ = got == 0;
                stream_.next_in = reinterpret_cast<const std::uint8_t*>(data);
                stream_.avail_in = static_cast<std::size_t>(got);
            }
            const lzma_ret ret = lzma_code(&stream_, at_end_ ? LZMA_FINISH : LZMA_RUN);
            const std::size_t decoded = capacity - stream_.avail_out;
            if (ret == LZMA_STREAM_END) {
                state_ = 0;
                return static_cast<std::int64_t>(decoded);
            }
            if (ret == LZMA_MEM_ERROR && threaded_) return -2;
            if (ret != LZMA_OK) return fail(decoded);
        }
        return static_cast<std::int64_t>(capacity - stream_.avail_out);
    }

    // From the file's start again, in one thread.
    bool read_again() {
        lzma_end(&stream_);
        stream_ = LZMA_STREAM_INIT;
        if (options_.rewind == nullptr || !options_.rewind(options_.rewind_context)) return false;
        input_.taken.clear();
        input_.taken_given = true;
        input_.failed = input_.ended = false;
        at_end_ = false;
        skip_ = handed_;
        handed_ = 0;
        start_in_one_thread();
        return true;
    }

    void start_in_one_thread() {
        threaded_ = false;
        working_ = lzma_stream_decoder(&stream_, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK;
    }

    std::int64_t fail(std::size_t decoded) {
        state_ = -1;
        return decoded > 0 ? static_cast<std::int64_t>(decoded) : -1;
    }

    packed_input input_;
    compressed_options options_;
    lzma_stream stream_ = LZMA_STREAM_INIT;
    bool working_ = false;
    bool threaded_ = true;
    bool at_end_ = false;
    std::uint64_t handed_ = 0; // text handed out by this reading
    std::uint64_t skip_ = 0;   // text to pass over, handed out before
    std::int64_t state_ = 1;
};

} // namespace

std::unique_ptr<text_decoder> xz_decoder(packed_input input, const compressed_options& options) {
    return std::make_unique<xz_reading>(std::move(input), options);
}

} // namespace tq5
