// The inflater: decodes raw deflate data (the body of a gzip member) and
// keeps the CRC-32 of the text it made.  Two are built in: ISA-L, the fast
// one, where the library was found, and zlib, for the Windows programs and
// as a build option.  The gzip reader reads the members' headers and
// trailers itself, so both give it exactly the same text and the same
// verdicts on damaged data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tq5 {

enum class inflate_step {
    going,      // more input, or more room for text, is needed
    stream_end, // the deflate data is complete
    bad         // the data cannot be decoded
};

struct inflate_call {
    std::size_t consumed = 0; // input bytes taken
    std::size_t produced = 0; // text bytes stored
    inflate_step step = inflate_step::going;
};

struct inflater_state;

inline constexpr std::size_t most_over_read = 16;

struct inflater_kind {
    const char* name;
    inflater_state* (*create)();
    void (*destroy)(inflater_state* state);
    // Ready for a new deflate stream.
    void (*restart)(inflater_state* state);
    // Decodes from [in, in + in_size) into [out, out + out_size).  At the
    // stream's end `consumed` counts only the bytes of `in` that belong to
    // the stream; the inflater may also have taken bytes beyond it in the
    // calls before, which `over_read` then gives back, in order (at most
    // `most_over_read`): they go in front of the rest of `in`.
    inflate_call (*inflate)(inflater_state* state, const unsigned char* in, std::size_t in_size,
                            unsigned char* out, std::size_t out_size);
    std::size_t (*over_read)(const inflater_state* state, unsigned char* into);
    // The CRC-32 of the stream's text so far.
    std::uint32_t (*text_crc)(const inflater_state* state);
    std::uint32_t (*crc32)(std::uint32_t crc, const unsigned char* data, std::size_t size);
};

#if defined(TQ5_HAVE_ISAL)
extern const inflater_kind isal_inflater;
#endif
#if defined(TQ5_HAVE_ZLIB)
extern const inflater_kind zlib_inflater;
#endif

// The inflater the program uses: ISA-L where it is built in.
const inflater_kind& default_inflater();

struct inflater_deleter {
    const inflater_kind* kind;
    void operator()(inflater_state* state) const { kind->destroy(state); }
};
using inflater_ptr = std::unique_ptr<inflater_state, inflater_deleter>;

inline inflater_ptr make_inflater(const inflater_kind& kind) {
    return inflater_ptr(kind.create(), inflater_deleter{&kind});
}

} // namespace tq5
