// zstd: frames one after another (joined with cat, skippable frames among
// them), each checked by libzstd against its checksum and content size
// where it has them.  Bytes after the last frame that begin no frame are bad
// data; a file that ends inside a frame is cut short.
#include "compressed/read_ahead.hpp"

#include <zstd.h>

namespace tq5 {

namespace {

class zstd_reading final : public text_decoder {
  public:
    explicit zstd_reading(packed_input input) : input_(std::move(input)) {}
    ~zstd_reading() override { ZSTD_freeDStream(stream_); }

    std::int64_t decode(char* buffer, std::size_t capacity) override {
        if (state_ != 1) return state_;
        if (stream_ == nullptr) return fail(0);
        ZSTD_outBuffer out{buffer, capacity, 0};
        for (;;) {
            if (in_.pos == in_.size && !may_flush_) {
                if (out.pos > 0) break;
                // Everything given is decoded: more compressed bytes.
                const char* data = nullptr;
                const std::int64_t got = next_packed(input_, data);
                if (got < 0 || (got == 0 && frame_open_)) return fail(0);
                if (got == 0) return state_ = 0;
                in_ = {data, static_cast<std::size_t>(got), 0};
            }
            const std::size_t in_before = in_.pos;
            const std::size_t out_before = out.pos;
            const std::size_t left = ZSTD_decompressStream(stream_, &out, &in_);
            if (ZSTD_isError(left) != 0) return fail(out.pos);
            // A call that moved nothing tells nothing of the frame.
            if (in_.pos != in_before || out.pos != out_before) frame_open_ = left != 0;
            // With the text full, the frame may hold more text without more input.
            may_flush_ = out.pos == out.size;
            if (may_flush_) break;
        }
        return static_cast<std::int64_t>(out.pos);
    }

  private:
    // The text decoded so far, then the fault.
    std::int64_t fail(std::size_t decoded) {
        state_ = -1;
        return decoded > 0 ? static_cast<std::int64_t>(decoded) : -1;
    }

    packed_input input_;
    ZSTD_DStream* stream_ = ZSTD_createDStream();
    ZSTD_inBuffer in_{nullptr, 0, 0};
    bool frame_open_ = false; // a frame begun and not ended
    bool may_flush_ = false;
    std::int64_t state_ = 1; // 1 while the data goes on, then 0 or -1
};

} // namespace

std::unique_ptr<text_decoder> zstd_decoder(packed_input input) {
    return std::make_unique<zstd_reading>(std::move(input));
}

} // namespace tq5
