// zlib's inflater, on raw deflate data.  zlib stops exactly at the end of
// a stream, so it never has bytes to give back.
#include "compressed/inflater.hpp"

#include <zlib.h>

#include <algorithm>

namespace tq5 {

namespace {

struct zlib_state {
    z_stream zlib{};
    bool ready = false;
    std::uint32_t crc = 0;
};

zlib_state* self(inflater_state* state) {
    return reinterpret_cast<zlib_state*>(state);
}

// zlib counts in 32 bits.
constexpr std::size_t largest_request = std::size_t{1} << 30;

inflater_state* create() {
    auto* state = new zlib_state;
    // -15: raw deflate data with a 32 KiB window.
    state->ready = inflateInit2(&state->zlib, -15) == Z_OK;
    return reinterpret_cast<inflater_state*>(state);
}

void destroy(inflater_state* opaque) {
    zlib_state* state = self(opaque);
    if (state->ready) inflateEnd(&state->zlib);
    delete state;
}

void restart(inflater_state* opaque) {
    zlib_state* state = self(opaque);
    if (state->ready) state->ready = inflateReset(&state->zlib) == Z_OK;
    state->crc = 0;
}

inflate_call inflate(inflater_state* opaque, const unsigned char* in, std::size_t in_size,
                     unsigned char* out, std::size_t out_size) {
    zlib_state* state = self(opaque);
    inflate_call call;
    if (!state->ready) {
        call.step = inflate_step::bad;
        return call;
    }
    z_stream& z = state->zlib;
    const auto in_count = static_cast<uInt>(std::min(in_size, largest_request));
    const auto out_count = static_cast<uInt>(std::min(out_size, largest_request));
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = in_count;
    z.next_out = out;
    z.avail_out = out_count;
    const int result = ::inflate(&z, Z_NO_FLUSH);
    call.consumed = in_count - z.avail_in;
    call.produced = out_count - z.avail_out;
    state->crc =
        static_cast<std::uint32_t>(::crc32(state->crc, out, static_cast<uInt>(call.produced)));
    if (result == Z_STREAM_END)
        call.step = inflate_step::stream_end;
    else if (result != Z_OK && result != Z_BUF_ERROR)
        call.step = inflate_step::bad;
    return call;
}

std::size_t over_read(const inflater_state*, unsigned char*) {
    return 0;
}

std::uint32_t text_crc(const inflater_state* state) {
    return reinterpret_cast<const zlib_state*>(state)->crc;
}

std::uint32_t crc32(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    // zlib's own crc32 takes at most 4 GiB at a time.
    while (size > 0) {
        const auto count = static_cast<uInt>(std::min(size, largest_request));
        crc = static_cast<std::uint32_t>(::crc32(crc, data, count));
        data += count;
        size -= count;
    }
    return crc;
}

} // namespace

const inflater_kind zlib_inflater{"zlib",  create,    destroy,  restart,
                                  inflate, over_read, text_crc, crc32};

} // namespace tq5
