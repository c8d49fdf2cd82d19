// The text of the input file, whether the file is plain or compressed.
//
// The first request reads the file's first bytes on their own: they decide
// the format (compressed_reader.hpp).  A compressed file is then read
// through its reader (its text is what comes out, and a format the program
// does not read fails at once), any other file byte for byte, those bytes
// first.
//
// One rule for every fault: the text handed out is the text that a sound
// reading gives before the fault, then the fault (-1), whatever the
// inflater, the threads or the request sizes.  So:
//   - a request to the file that fails is tried again with one block (4096
//     bytes, up to the next multiple of 4096 in the file) at a time, since
//     some file systems fail a whole request for one bad block: the text is
//     that of the bytes the device still gives;
//   - a compressed file is judged whole: where the text ends early for the
//     line reader (a Ctrl-Z), `finish_input_text` reads the rest to its end
//     and gives the verdict on every member;
//   - where memory runs out the reading falls back on smaller buffers, and
//     where even that fails it ends as a read error.
#pragma once

#include "bytes/byte_source.hpp"
#include "compressed/compressed_reader.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tq5 {

inline constexpr std::size_t device_block = 4096;

struct input_text {
    byte_source file;
    std::int64_t file_at = 0;                  // bytes the file has given
    bool block_by_block = false;               // a request failed: one block at a time
    bool file_failed = false;                  // a block failed too: every later read fails
    std::array<char, format_head_size> head{}; // the first bytes of the file
    std::size_t head_size = 0;
    std::size_t head_handed = 0;
    bool head_read = false;
    compressed_options options;       // how a compressed file is read
    compressed_reader_ptr compressed; // set for a compressed file
    // The text of a compressed file, from whichever reader decodes it; not
    // set for a plain file.
    byte_source decoded;
    bool out_of_memory = false;
};

// How the text of a compressed file is read by a process that may run on
// `cpus` CPUs within an address space of `memory_limit` bytes: as many
// decoding threads as those CPUs, at most four, their buffers within
// 256 MiB and a quarter of the limit.
compressed_options text_options(unsigned cpus, std::uint64_t memory_limit);

// Starts the reading of `file` as text; a compressed file is read with
// `options`.
void open_input_text(input_text& input, byte_source file, const compressed_options& options = {});

// The text, for the line reader.
byte_source text_of(input_text& input);

// After the line reader's last request: the verdict on the whole file.  A
// compressed file's text is read on to its end, whatever the line reader
// stopped at, so that every member is checked; a plain file is read no
// further.  True if nothing failed.
bool finish_input_text(input_text& input);

// Ends the reading: the decoding threads, if any, end here; the file can
// be closed after it.
void close_input_text(input_text& input);

} // namespace tq5
