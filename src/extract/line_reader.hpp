// Line reader for GenBank flat files.
//
// The file is read in large blocks straight from its source and cut into
// lines by the program's own text rule, so that the same lines result on
// every platform:
//   - a carriage return directly before a line feed is dropped (it does not
//     count against the piece limit); any other carriage return is kept;
//   - the byte 26 (Ctrl-Z) ends the data: neither it nor anything after it is
//     ever read;
//   - a line is at most 200 characters: a longer physical line arrives as
//     several pieces, and a piece that reaches 200 characters ends at once,
//     so a physical line of exactly 200 characters is followed by an empty
//     line (its line feed is left for the next read);
//   - a NUL byte is stored like any other, but the line's text ends there.
#pragma once

#include "bytes/byte_source.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tq5 {

inline constexpr std::size_t line_piece_limit = 200;
inline constexpr std::size_t default_block_size = 256 * 1024;

// One line as the scanner sees it.  `size` counts the characters before the
// first NUL of the piece: that is the text every test and every output uses.
struct text_line {
    std::array<char, line_piece_limit> text{};
    std::size_t size = 0;

    std::string_view view() const { return {text.data(), size}; }
    bool contains(std::string_view needle) const { return view().find(needle) != view().npos; }
};

// Calls made by the reader: `before_fill` just before every request to the
// source (so that the caller can hand its pending output to the system
// first), and `read_failed` when the source has reported an error and the
// text before it has all been read (the read that meets the end of the
// input calls it).  If `read_failed` returns, the error counts as the end of
// the input.
struct reader_hooks {
    void (*before_fill)(void* context) = nullptr;
    void (*read_failed)(void* context) = nullptr;
    void* context = nullptr;
};

struct line_reader {
    byte_source source;
    reader_hooks hooks;
    std::vector<char> block; // the bytes in [begin, end) are not consumed yet
    std::size_t begin = 0;
    std::size_t end = 0;
    bool source_done = false; // no byte will come from the source any more
    bool at_end = false;      // a read has met the end of the input
    bool failed = false;      // the source reported an error
    bool mid_line = false;    // the last read did not take a line feed
};

// Prepares `reader` for a new input; `block_size` is the size of one request
// to the source (at least 2 * line_piece_limit is used).
void start_reading(line_reader& reader, byte_source source, reader_hooks hooks = {},
                   std::size_t block_size = default_block_size);

// Reads the next line into `line`.  Once the input is at its end every read
// stores an empty line.  Returns `reader.at_end` after the read.
bool read_line(line_reader& reader, text_line& line);

// Reads lines until one contains `first` or `second` (an empty `second` is
// not looked for) and returns true with that line in `line`.  A read after
// which the input is at its end stops the search instead: false is returned
// and the text of that read is not examined.  The result is that of calling
// `read_line` line by line, but whole physical lines that hold neither text
// are passed over in the block without being read one by one.
bool read_until(line_reader& reader, text_line& line, std::string_view first,
                std::string_view second = {});

} // namespace tq5
