// bzip2: streams one after another (joined with cat, or as pbzip2 writes a
// file: a stream per block), each checked by libbz2 against its blocks'
// and its own CRC.  Bytes after a stream that begin no stream are bad data;
// a file that ends inside a stream is cut short.
#include "compressed/read_ahead.hpp"

#include <bzlib.h>

namespace tq5 {

namespace {

class bzip2_reading final : public text_decoder {
  public:
    explicit bzip2_reading(packed_input input) : input_(std::move(input)) {}
    ~bzip2_reading() override { end_stream(); }

    std::int64_t decode(char* buffer, std::size_t capacity) override {
        if (state_ != 1) return state_;
        stream_.next_out = buffer;
        stream_.avail_out = static_cast<unsigned>(std::min<std::size_t>(capacity, 1u << 30));
        const unsigned room = stream_.avail_out;
        for (;;) {
            const std::size_t decoded = room - stream_.avail_out;
            if (stream_.avail_in == 0 && !may_flush_) {
                if (decoded > 0) return static_cast<std::int64_t>(decoded);
                const char* data = nullptr;
                const std::int64_t got = next_packed(input_, data);
                if (got < 0 || (got == 0 && open_)) return fail(0);
                if (got == 0) return state_ = 0;
                stream_.next_in = const_cast<char*>(data);
                stream_.avail_in = static_cast<unsigned>(got);
            }
            if (!open_) {
                if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) return fail(decoded);
                open_ = true;
            }
            const int ret = BZ2_bzDecompress(&stream_);
            if (ret == BZ_STREAM_END) {
                end_stream();
                may_flush_ = false;
                continue;
            }
            if (ret != BZ_OK) return fail(room - stream_.avail_out);
            may_flush_ = stream_.avail_out == 0;
            if (may_flush_) return static_cast<std::int64_t>(room);
        }
    }

  private:
    void end_stream() {
        if (open_) BZ2_bzDecompressEnd(&stream_);
        open_ = false;
    }
    std::int64_t fail(std::size_t decoded) {
        state_ = -1;
        return decoded > 0 ? static_cast<std::int64_t>(decoded) : -1;
    }

    packed_input input_;
    bz_stream stream_{};
    bool open_ = false; // a stream begun and not ended
    bool may_flush_ = false;
    std::int64_t state_ = 1;
};

} // namespace

compressed_reader_ptr open_bzip2_reader(packed_input input, const compressed_options& options) {
    return read_ahead(std::make_unique<bzip2_reading>(std::move(input)), options);
}

} // namespace tq5
