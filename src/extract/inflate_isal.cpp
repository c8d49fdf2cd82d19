// ISA-L's inflater.  It reads its input 64 bits ahead; the bytes it took
// beyond the end of a stream are still in its bit buffer and are given
// back from there.
#include "extract/inflater.hpp"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <limits>

namespace tq5 {

namespace {

struct isal_state {
    inflate_state isal;
};

isal_state* self(inflater_state* state) {
    return reinterpret_cast<isal_state*>(state);
}
const isal_state* self(const inflater_state* state) {
    return reinterpret_cast<const isal_state*>(state);
}

// ISA-L counts in 32 bits.
constexpr std::size_t largest_request = std::size_t{1} << 30;

inflater_state* create() {
    auto* state = new isal_state;
    isal_inflate_init(&state->isal);
    state->isal.crc_flag = ISAL_GZIP_NO_HDR; // keep the CRC-32 of the text
    return reinterpret_cast<inflater_state*>(state);
}

void destroy(inflater_state* state) {
    delete self(state);
}

void restart(inflater_state* state) {
    isal_inflate_reset(&self(state)->isal);
    self(state)->isal.crc_flag = ISAL_GZIP_NO_HDR;
}

inflate_call inflate(inflater_state* state, const unsigned char* in, std::size_t in_size,
                     unsigned char* out, std::size_t out_size) {
    inflate_state& z = self(state)->isal;
    const auto in_count = static_cast<std::uint32_t>(std::min(in_size, largest_request));
    const auto out_count = static_cast<std::uint32_t>(std::min(out_size, largest_request));
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = in_count;
    z.next_out = out;
    z.avail_out = out_count;
    const int result = isal_inflate(&z);
    inflate_call call;
    call.consumed = in_count - z.avail_in;
    call.produced = out_count - z.avail_out;
    if (result < 0) {
        // The text of a call that fails is not all decoded text: ISA-L
        // copies a match that reaches back before the stream's start from
        // its own buffer, and only then reports the distance as invalid.
        // None of it is handed out.
        call.step = inflate_step::bad;
        call.produced = 0;
    } else if (z.block_state == ISAL_BLOCK_FINISH) {
        call.step = inflate_step::stream_end;
    }
    return call;
}

std::size_t over_read(const inflater_state* state, unsigned char* into) {
    const inflate_state& z = self(state)->isal;
    // The bits left of the last byte of the stream are padding; whole bytes
    // after them were never part of it.
    const auto bits = static_cast<unsigned>(std::max(z.read_in_length, 0));
    const unsigned count = bits / 8;
    const unsigned skip = bits % 8;
    for (unsigned at = 0; at < count; ++at)
        into[at] = static_cast<unsigned char>(z.read_in >> (skip + 8 * at));
    return count;
}

std::uint32_t text_crc(const inflater_state* state) {
    return self(state)->isal.crc;
}

std::uint32_t crc32(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    return crc32_gzip_refl(crc, const_cast<unsigned char*>(data), size);
}

} // namespace

const inflater_kind isal_inflater{"ISA-L", create,    destroy,  restart,
                                  inflate, over_read, text_crc, crc32};

} // namespace tq5
