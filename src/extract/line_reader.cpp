#include "extract/line_reader.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tq5 {

namespace {

// The reader looks at most this far ahead of a line's start: 200 characters,
// a carriage return and the line feed behind them.
constexpr std::size_t lookahead = line_piece_limit + 1;

constexpr char ctrl_z = 26;

const void* last_line_feed(const char* from, std::size_t size) {
#if defined(__GLIBC__)
    return ::memrchr(from, '\n', size);
#else
    for (std::size_t at = size; at > 0; --at)
        if (from[at - 1] == '\n') return from + at - 1;
    return nullptr;
#endif
}

std::size_t available(const line_reader& reader) {
    return reader.end - reader.begin;
}

// Tops the block up so that at least `lookahead` bytes are ready, unless the
// source has no more.  The unread tail moves to the front first.
void fill(line_reader& reader) {
    if (reader.begin > 0) {
        std::memmove(reader.block.data(), reader.block.data() + reader.begin, available(reader));
        reader.end -= reader.begin;
        reader.begin = 0;
    }
    while (!reader.source_done && reader.end < lookahead) {
        if (reader.hooks.before_fill != nullptr) reader.hooks.before_fill(reader.hooks.context);
        char* into = reader.block.data() + reader.end;
        const std::int64_t got =
            reader.source.read(reader.source.context, into, reader.block.size() - reader.end);
        if (got > 0) {
            const auto count = static_cast<std::size_t>(got);
            // Ctrl-Z ends the data: cut the block there and never ask again.
            if (const void* stop = std::memchr(into, ctrl_z, count)) {
                reader.end += static_cast<std::size_t>(static_cast<const char*>(stop) - into);
                reader.source_done = true;
            } else {
                reader.end += count;
            }
        } else {
            // A read error is told once the text before it is read: see read_line.
            reader.source_done = true;
            reader.failed = got < 0;
        }
    }
}

// A text that read_until looks for, and the two of its bytes (the rarest in
// GenBank data, as far as a simple ranking tells) that the block is
// screened for before the whole text is compared.
struct sought_text {
    std::string_view text;
    std::size_t first_at = 0;
    std::size_t second_at = 0;
};

// Spaces are everywhere in a flat file, lower-case letters and digits fill
// the sequence and the locations; anything else is rarer.
int rarity(char c) {
    if (c == ' ') return 0;
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return 1;
    return 2;
}

sought_text sought(std::string_view text) {
    sought_text s{text};
    int best = -1;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const int r = rarity(text[at]);
        if (r > best) {
            best = r;
            s.first_at = s.second_at = at;
        } else if (r == best) {
            s.second_at = at; // the last of the rarest: as far from the first as can be
        }
    }
    return s;
}

bool occurs_at(const char* at, const char* to, const sought_text& s) {
    return static_cast<std::size_t>(to - at) >= s.text.size() &&
           at[s.first_at] == s.text[s.first_at] &&
           std::memcmp(at, s.text.data(), s.text.size()) == 0;
}

// The first position in [from, to) where `a` or `b` (if `b` is not empty)
// begins and lies wholly before `to`, or `to` if there is none.  `a` must
// not be empty.
const char* find_either(const char* from, const char* to, const sought_text& a,
                        const sought_text& b) {
    const bool two = !b.text.empty();
    const char* at = from;
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
    // Sixteen starting positions at a time: those where both screening
    // bytes of a text are in place are compared in full, in order.
    const std::size_t reach = std::max({a.first_at, a.second_at, b.first_at, b.second_at}) + 16;
    if (static_cast<std::size_t>(to - from) >= reach) {
        const char* const last = to - reach; // the last start whose loads stay within
        const __m128i a1 = _mm_set1_epi8(a.text[a.first_at]);
        const __m128i a2 = _mm_set1_epi8(a.text[a.second_at]);
        const __m128i b1 = _mm_set1_epi8(two ? b.text[b.first_at] : '\0');
        const __m128i b2 = _mm_set1_epi8(two ? b.text[b.second_at] : '\0');
        auto load = [](const char* p) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        };
        for (; at <= last; at += 16) {
            const __m128i hits_a = _mm_and_si128(_mm_cmpeq_epi8(load(at + a.first_at), a1),
                                                 _mm_cmpeq_epi8(load(at + a.second_at), a2));
            auto mask_a = static_cast<unsigned>(_mm_movemask_epi8(hits_a));
            unsigned mask_b = 0;
            if (two) {
                const __m128i hits_b = _mm_and_si128(_mm_cmpeq_epi8(load(at + b.first_at), b1),
                                                     _mm_cmpeq_epi8(load(at + b.second_at), b2));
                mask_b = static_cast<unsigned>(_mm_movemask_epi8(hits_b));
            }
            for (unsigned mask = mask_a | mask_b; mask != 0; mask &= mask - 1) {
                const unsigned bit = mask & (0u - mask); // the lowest position left
                const char* start = at + __builtin_ctz(mask);
                if (((mask_a & bit) != 0 && occurs_at(start, to, a)) ||
                    ((mask_b & bit) != 0 && occurs_at(start, to, b)))
                    return start;
            }
        }
    }
#endif
    // What is left, or all of it where there is no SSE2: one start at a time.
    for (; at < to; ++at) {
        if (occurs_at(at, to, a) || (two && occurs_at(at, to, b))) return at;
    }
    return to;
}

// Moves `begin`, the start of a physical line, over the whole lines that
// hold neither text, as far as the block tells.  What is passed over ends in
// a line feed and holds no occurrence, so no piece of it could have been the
// line sought nor met the end: passing over it gives what reading it piece
// by piece would.  Stops at the start of the line with the first occurrence
// (a piece boundary or a NUL may still hide it: read_line and the test
// decide), or where the block does not tell.  A long line is then read
// piece by piece to its end, without a search per piece.
void pass_over_lines(line_reader& reader, std::string_view first, std::string_view second) {
    if (first.empty()) return; // every line holds it
    const sought_text a = sought(first);
    const sought_text b = sought(second);
    for (;;) {
        if (available(reader) < lookahead && !reader.source_done) fill(reader);
        const char* data = reader.block.data();
        const char* found = find_either(data + reader.begin, data + reader.end, a, b);

        // The last line feed before the occurrence, or in the whole block.
        const auto* feed = static_cast<const char*>(last_line_feed(
            data + reader.begin, static_cast<std::size_t>(found - data) - reader.begin));
        if (feed == nullptr) return;
        reader.begin = static_cast<std::size_t>(feed - data) + 1;
        if (found < data + reader.end || reader.source_done) return;
        // The rest of the block is the start of a line: it needs more data,
        // unless it is a long line, which read_line takes piece by piece.
        if (available(reader) >= lookahead) return;
    }
}

} // namespace

void start_reading(line_reader& reader, byte_source source, reader_hooks hooks,
                   std::size_t block_size) {
    reader.source = source;
    reader.hooks = hooks;
    // Where memory is short, a smaller block does: the lines are the same.
    for (std::size_t size = std::max(block_size, 2 * lookahead);; size = size / 2) {
        try {
            reader.block.clear();
            reader.block.shrink_to_fit();
            reader.block.assign(std::max(size, 2 * lookahead), '\0');
            break;
        } catch (const std::bad_alloc&) {
            if (size <= 2 * lookahead) throw;
        }
    }
    reader.begin = 0;
    reader.end = 0;
    reader.source_done = false;
    reader.at_end = false;
    reader.failed = false;
    reader.mid_line = false;
}

bool read_line(line_reader& reader, text_line& line) {
    if (reader.at_end) {
        line.size = 0;
        return true;
    }
    if (available(reader) < lookahead && !reader.source_done) fill(reader);

    const char* start = reader.block.data() + reader.begin;
    const std::size_t ready = available(reader);
    std::size_t stored = 0;
    std::size_t consumed = 0;
    if (const void* found = std::memchr(start, '\n', std::min(ready, lookahead))) {
        const auto feed = static_cast<std::size_t>(static_cast<const char*>(found) - start);
        const std::size_t length = (feed > 0 && start[feed - 1] == '\r') ? feed - 1 : feed;
        if (length < line_piece_limit) {
            stored = length;
            consumed = feed + 1;
        } else {
            // 200 characters stored: the read ends before the line feed.
            stored = consumed = line_piece_limit;
        }
    } else if (ready >= lookahead) {
        stored = consumed = line_piece_limit;
    } else {
        // The data ends within this piece.  A piece that reaches 200
        // characters ends before the end is noticed; the next read meets it.
        stored = consumed = ready;
        if (ready < line_piece_limit) reader.at_end = true;
    }

    reader.mid_line = consumed == stored;
    std::memcpy(line.text.data(), start, stored);
    const void* nul = std::memchr(start, '\0', stored);
    line.size =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : stored;
    reader.begin += consumed;
    // The end that a read error made: the whole text before it has been read.
    if (reader.at_end && reader.failed && reader.hooks.read_failed != nullptr)
        reader.hooks.read_failed(reader.hooks.context);
    return reader.at_end;
}

bool read_until(line_reader& reader, text_line& line, std::string_view first,
                std::string_view second) {
    for (;;) {
        if (!reader.at_end && !reader.mid_line) pass_over_lines(reader, first, second);
        if (read_line(reader, line)) return false;
        if (line.contains(first) || (!second.empty() && line.contains(second))) return true;
    }
}

} // namespace tq5
