// The text of the input file, whether the file is plain or compressed.
//
// The first request reads the file's first bytes on their own: they decide
// the format (compressed_reader.hpp).  A compressed file is then read
// through its reader (its text is what comes out, and a format the program
// does not read fails at once), any other file byte for byte, those bytes
// first.
#pragma once

#include "bytes/byte_source.hpp"
#include "compressed/compressed_reader.hpp"

#include <array>
#include <cstddef>

namespace tq5 {

struct input_text {
    byte_source file;
    std::array<char, format_head_size> head{}; // the first bytes of the file
    std::size_t head_size = 0;
    std::size_t head_handed = 0;
    bool head_read = false;
    compressed_options options;       // how a compressed file is read
    compressed_reader_ptr compressed; // set for a compressed file
};

// Starts the reading of `file` as text; a compressed file is read with
// `options`.
void open_input_text(input_text& input, byte_source file, const compressed_options& options = {});

// The text, for the line reader.
byte_source text_of(input_text& input);

// Ends the reading: the decoding threads, if any, end here; the file can
// be closed after it.
void close_input_text(input_text& input);

} // namespace tq5
