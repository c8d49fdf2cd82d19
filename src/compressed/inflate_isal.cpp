// ISA-L's inflater.  It reads its input 64 bits ahead, so at the end of a
// deflate stream it has taken up to 8 bytes that follow the stream (the
// member's trailer, the next member).  Releases differ in what they do with
// them:
//   - up to 2.31, they stay in the bit buffer (`read_in`, `read_in_length`
//     bits) and `next_in` stays past them;
//   - from 2.32.1 on, the whole bytes are given back by ISA-L itself:
//     `next_in` moves back and `avail_in` grows by as many, possibly more
//     than this call was handed (the bytes came with an earlier call), and
//     `read_in_length` is cleared.
// Both are handled the same way, without reading the bit buffer itself:
// the stream ends `read_in_length / 8` bytes before where `avail_in` says
// the inflater stands (0 for the newer releases), counted signed from the
// start of this call's input.  Where that lies before it, the bytes to give
// back came with earlier calls: the last few bytes of every call are kept
// here for that.  `read_in_length` is the one field outside ISA-L's
// documented interface that this needs, and only for the older releases.
#include "compressed/inflater.hpp"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace tq5 {

namespace {

// ISA-L's bit buffer holds 64 bits: it never takes more than 8 bytes ahead.
// Twice that is kept.
constexpr std::size_t kept_input = 16;

struct isal_state {
    inflate_state isal;
    // The last input bytes taken by the calls before this one, newest last.
    std::array<unsigned char, kept_input> recent{};
    std::size_t recent_size = 0;
    // At the stream's end: the bytes of earlier calls to give back.
    std::array<unsigned char, kept_input> back{};
    std::size_t back_size = 0;
};

isal_state* self(inflater_state* state) {
    return reinterpret_cast<isal_state*>(state);
}
const isal_state* self(const inflater_state* state) {
    return reinterpret_cast<const isal_state*>(state);
}

// ISA-L counts in 32 bits.
constexpr std::size_t largest_request = std::size_t{1} << 30;

void reset(isal_state& state) {
    state.isal.crc_flag = ISAL_GZIP_NO_HDR; // keep the CRC-32 of the text
    state.recent_size = 0;
    state.back_size = 0;
}

inflater_state* create() {
    auto* state = new isal_state;
    isal_inflate_init(&state->isal);
    reset(*state);
    return reinterpret_cast<inflater_state*>(state);
}

void destroy(inflater_state* state) {
    delete self(state);
}

void restart(inflater_state* state) {
    isal_inflate_reset(&self(state)->isal);
    reset(*self(state));
}

// Notes the `count` bytes at `in` as the newest input taken.
void keep_recent(isal_state& state, const unsigned char* in, std::size_t count) {
    const std::size_t from_new = std::min(count, kept_input);
    const std::size_t from_old = std::min(state.recent_size, kept_input - from_new);
    std::memmove(state.recent.data(), state.recent.data() + state.recent_size - from_old, from_old);
    std::memcpy(state.recent.data() + from_old, in + count - from_new, from_new);
    state.recent_size = from_old + from_new;
}

inflate_call inflate(inflater_state* opaque, const unsigned char* in, std::size_t in_size,
                     unsigned char* out, std::size_t out_size) {
    isal_state& state = *self(opaque);
    inflate_state& z = state.isal;
    const auto in_count = static_cast<std::uint32_t>(std::min(in_size, largest_request));
    const auto out_count = static_cast<std::uint32_t>(std::min(out_size, largest_request));
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = in_count;
    z.next_out = out;
    z.avail_out = out_count;
    const int result = isal_inflate(&z);
    inflate_call call;
    call.produced = out_count - z.avail_out;
    // Where the inflater stands, from the start of `in`: negative where a
    // newer release gave back bytes of earlier calls.
    const std::int64_t advanced = std::int64_t{in_count} - std::int64_t{z.avail_in};
    if (result < 0) {
        // The text of a call that fails is not all decoded text: ISA-L
        // copies a match that reaches back before the stream's start from
        // its own buffer, and only then reports the distance as invalid.
        // None of it is handed out.
        call.step = inflate_step::bad;
        call.produced = 0;
        return call;
    }
    if (z.block_state != ISAL_BLOCK_FINISH) {
        // Within the stream the inflater only ever goes forward.
        if (advanced < 0 || advanced > std::int64_t{in_count}) {
            call.step = inflate_step::bad;
            return call;
        }
        call.consumed = static_cast<std::size_t>(advanced);
        keep_recent(state, in, call.consumed);
        return call;
    }
    // The stream's end: the bytes still in the bit buffer (older releases)
    // are not part of it.
    const std::int64_t end = advanced - std::max(z.read_in_length, 0) / 8;
    if (end > std::int64_t{in_count} || -end > std::int64_t(state.recent_size)) {
        call.step = inflate_step::bad; // no release does this
        return call;
    }
    call.step = inflate_step::stream_end;
    if (end >= 0) {
        call.consumed = static_cast<std::size_t>(end);
    } else {
        state.back_size = static_cast<std::size_t>(-end);
        std::memcpy(state.back.data(), state.recent.data() + state.recent_size - state.back_size,
                    state.back_size);
    }
    state.recent_size = 0;
    return call;
}

std::size_t over_read(const inflater_state* state, unsigned char* into) {
    const isal_state& s = *self(state);
    std::memcpy(into, s.back.data(), s.back_size);
    return s.back_size;
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
