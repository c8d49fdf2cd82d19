#include "extract/line_reader.hpp"

#include <algorithm>
#include <cstring>

namespace tq5 {

namespace {

// The reader looks at most this far ahead of a line's start: 200 characters,
// a carriage return and the line feed behind them.
constexpr std::size_t lookahead = line_piece_limit + 1;

constexpr char ctrl_z = 26;

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
            reader.source_done = true;
            if (got < 0) {
                reader.failed = true;
                if (reader.hooks.read_failed != nullptr)
                    reader.hooks.read_failed(reader.hooks.context);
            }
        }
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
        if (read_line(reader, line)) return false;
        if (line.contains(first) || (!second.empty() && line.contains(second))) return true;
    }
}

} // namespace tq5
