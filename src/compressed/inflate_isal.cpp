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
// documented calls that this needs, and only for the older releases.
// Debian 13's 2.31.1 is one of the older ones: it keeps them in the bit
// buffer, as 2.30 does.
//
// The text before a fault.  A call that fails may have stored, after the
// good text, bytes that are not text (ISA-L copies a match whose distance
// reaches back before the stream's start from its own buffer, and only then
// reports it, and an invalid code may leave a few bytes too), and where the
// room for text is small it decodes ahead into its own buffer and fails
// before handing out text that is good.  So the state before every call is
// kept, and after a failure the call is done again from it: first with as
// many whole input bytes as decode without a fault (found by halving), then
// with the bits of the next byte one at a time, added to the bit buffer
// (`read_in`, `read_in_length`) with no input bytes, until the bit that
// makes the fault.  The text is then what every call without a fault
// stored: that of the codes complete before the bad one, as a decoder that
// reads bit by bit gives.  This uses three fields beyond the documented
// calls: the bit buffer (`read_in`, `read_in_length`) and `tmp_in_size`
// (header bytes ISA-L holds back, which the bits must not overtake; where
// there are some, the text stops before the header).  One difference from
// zlib stays: ISA-L takes a block's Huffman codes where the set is
// incomplete or over-subscribed, which zlib refuses, and decodes text with
// them up to the fault.
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
    inflate_state before; // the state before this call, or before this bit
    bool fresh = true;    // nothing decoded since the stream's start
    // The bits of one input byte not yet added to the bit buffer, lowest first.
    unsigned pending_byte = 0;
    int pending_bits = 0;
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
    state.fresh = true;
    state.pending_bits = 0;
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

// Decodes `in_count` bytes of `in` into `out` from the state kept before
// the call.
int decode_again(isal_state& state, const unsigned char* in, std::uint32_t in_count,
                 unsigned char* out, std::uint32_t out_count) {
    inflate_state& z = state.isal;
    if (state.fresh) {
        isal_inflate_reset(&z);
        z.crc_flag = ISAL_GZIP_NO_HDR;
    } else {
        z = state.before;
    }
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = in_count;
    z.next_out = out;
    z.avail_out = out_count;
    return isal_inflate(&z);
}

// Adds the pending bits one at a time, until the one that makes the fault
// (the state before it is kept) or until the room for text is full.
inflate_call add_pending_bits(isal_state& state, unsigned char* out, std::uint32_t out_count) {
    inflate_state& z = state.isal;
    inflate_call call;
    while (state.pending_bits > 0 && call.produced < out_count) {
        if (z.read_in_length < 0 || z.read_in_length >= 64 || z.tmp_in_size != 0) break;
        state.before = z;
        const unsigned bit = (state.pending_byte >> (8 - state.pending_bits)) & 1u;
        --state.pending_bits;
        z.read_in |= std::uint64_t{bit} << z.read_in_length;
        ++z.read_in_length;
        z.next_in = out; // no input bytes
        z.avail_in = 0;
        z.next_out = out + call.produced;
        z.avail_out = out_count - static_cast<std::uint32_t>(call.produced);
        const int result = isal_inflate(&z);
        if (result < 0) {
            z = state.before;
            break;
        }
        call.produced = out_count - z.avail_out;
        if (z.block_state == ISAL_BLOCK_FINISH) break; // no release ends so: a fault
    }
    if (state.pending_bits > 0 && call.produced == out_count) return call; // more next time
    // The fault is in this byte; where its bits all decode, the bit buffer
    // did not stand for the byte: the text stops before it all the same.
    state.pending_bits = 0;
    call.step = inflate_step::bad;
    return call;
}

// After a call that failed: the text that comes before the fault.
inflate_call text_before_fault(isal_state& state, const unsigned char* in, std::uint32_t in_count,
                               unsigned char* out, std::uint32_t out_count) {
    inflate_state& z = state.isal;
    // The most whole input bytes that decode without a fault.
    std::uint32_t good = 0;
    std::uint32_t bad = in_count;
    while (bad - good > 1) {
        const std::uint32_t middle = good + (bad - good) / 2;
        (decode_again(state, in, middle, out, out_count) >= 0 ? good : bad) = middle;
    }
    decode_again(state, in, good, out, out_count);
    inflate_call call;
    call.produced = out_count - z.avail_out;
    call.consumed = good - z.avail_in;
    keep_recent(state, in, call.consumed);
    state.fresh = false;
    if (z.avail_out == 0 || z.avail_in != 0 || z.block_state == ISAL_BLOCK_FINISH)
        return call; // the room is full first: the fault comes with a later call
    if (z.tmp_in_size != 0) {
        // A block header waits for its bytes: it makes no text.
        call.step = inflate_step::bad;
        return call;
    }
    state.pending_byte = in[good];
    state.pending_bits = 8;
    call.consumed += 1;
    keep_recent(state, in + good, 1);
    const inflate_call bits = add_pending_bits(
        state, out + call.produced, out_count - static_cast<std::uint32_t>(call.produced));
    call.produced += bits.produced;
    call.step = bits.step;
    return call;
}

inflate_call inflate(inflater_state* opaque, const unsigned char* in, std::size_t in_size,
                     unsigned char* out, std::size_t out_size) {
    isal_state& state = *self(opaque);
    inflate_state& z = state.isal;
    const auto in_count = static_cast<std::uint32_t>(std::min(in_size, largest_request));
    const auto out_count = static_cast<std::uint32_t>(std::min(out_size, largest_request));
    if (state.pending_bits > 0) return add_pending_bits(state, out, out_count);
    if (!state.fresh) state.before = z;
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = in_count;
    z.next_out = out;
    z.avail_out = out_count;
    const int result = isal_inflate(&z);
    if (result < 0) return text_before_fault(state, in, in_count, out, out_count);
    state.fresh = false;
    inflate_call call;
    call.produced = out_count - z.avail_out;
    // Where the inflater stands, from the start of `in`: negative where a
    // newer release gave back bytes of earlier calls.
    const std::int64_t advanced = std::int64_t{in_count} - std::int64_t{z.avail_in};
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
