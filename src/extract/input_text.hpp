// The text of the input file, whether the file is plain or gzip-compressed.
//
// The first request reads the file's first two bytes on their own: a gzip
// file is then read through the gzip reader (its text is what comes out),
// any other file byte for byte, those two bytes first.
#pragma once

#include "bytes/byte_source.hpp"
#include "compressed/gzip_reader.hpp"

#include <array>
#include <cstddef>

namespace tq5 {

struct input_text {
    byte_source file;
    std::array<char, 2> head{}; // the first bytes of the file
    std::size_t head_size = 0;
    std::size_t head_handed = 0;
    bool head_read = false;
    gzip_options options; // how a gzip file is read
    gzip_reader_ptr gzip; // set for a gzip file
};

// Starts the reading of `file` as text; a gzip file is read with `options`.
void open_input_text(input_text& input, byte_source file, const gzip_options& options = {});

// The text, for the line reader.
byte_source text_of(input_text& input);

// Ends the reading: the inflating threads, if any, end here; the file can
// be closed after it.
void close_input_text(input_text& input);

} // namespace tq5
