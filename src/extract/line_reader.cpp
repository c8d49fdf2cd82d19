#include "extract/line_reader.hpp"

#include <algorithm>
#include <cstring>

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
    // The bytes move: what read_until found is no longer where it was.
    for (search_hint& hint : reader.hints)
        hint.valid = false;
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
            reader.source_done = true;
            if (got < 0) {
                reader.failed = true;
                if (reader.hooks.read_failed != nullptr)
                    reader.hooks.read_failed(reader.hooks.context);
            }
        }
    }
}

const char* find_text(const char* from, const char* to, std::string_view text) {
    const auto size = static_cast<std::size_t>(to - from);
#if defined(__GLIBC__)
    return static_cast<const char*>(::memmem(from, size, text.data(), text.size()));
#else
    const std::string_view within(from, size);
    const std::size_t at = within.find(text);
    return at == within.npos ? nullptr : from + at;
#endif
}

// The block position of the first occurrence of `text` at or after `from`,
// or `reader.end` if there is none in the block.
std::size_t next_occurrence(line_reader& reader, search_hint& hint, std::string_view text,
                            std::size_t from) {
    if (hint.valid && hint.text == text && hint.from <= from && hint.found >= from)
        return hint.found;
    const char* data = reader.block.data();
    const char* found = find_text(data + from, data + reader.end, text);
    hint.valid = true;
    hint.text.assign(text); // the same few texts: no allocation after the first
    hint.from = from;
    hint.found = found != nullptr ? static_cast<std::size_t>(found - data) : reader.end;
    return hint.found;
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
    for (;;) {
        if (available(reader) < lookahead && !reader.source_done) fill(reader);
        std::size_t found = next_occurrence(reader, reader.hints[0], first, reader.begin);
        if (!second.empty())
            found = std::min(found, next_occurrence(reader, reader.hints[1], second, reader.begin));

        // The last line feed before the occurrence, or in the whole block.
        const char* data = reader.block.data();
        const auto* feed =
            static_cast<const char*>(last_line_feed(data + reader.begin, found - reader.begin));
        if (feed == nullptr) return;
        reader.begin = static_cast<std::size_t>(feed - data) + 1;
        if (found < reader.end || reader.source_done) return;
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
    reader.block.assign(std::max(block_size, 2 * lookahead), '\0');
    reader.begin = 0;
    reader.end = 0;
    reader.source_done = false;
    reader.at_end = false;
    reader.failed = false;
    reader.mid_line = false;
    for (search_hint& hint : reader.hints)
        hint.valid = false;
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
