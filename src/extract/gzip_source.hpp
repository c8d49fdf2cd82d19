// Compressed input: a gzip file read as the text it holds.
//
// GenBank release and RefSeq files come gzip-compressed, some as BGZF (many
// small members in a row, each with its size in its header).  The reader
// takes the compressed bytes from one byte source and is itself a byte
// source of the text, so that the line reader above it sees the same bytes
// as from the uncompressed file.
//
// The inflating runs ahead of the scanner on other threads: one for a
// plain gzip file, several for a BGZF file, whose members are inflated side
// by side and handed out in order.  What the text is, and where bad data
// ends it, is decided as by the reading member after member
// (gzip_stream.hpp): the text decoded before a fault is handed out first,
// the fault (-1) comes with the next read, and every read after it fails
// too.  No thread outlives the reader.  Where the system gives no thread,
// the reader inflates on the caller's thread instead, one member after
// another.
#pragma once

#include "extract/inflater.hpp"
#include "extract/line_reader.hpp"

#include <memory>
#include <string_view>

namespace tq5 {

// True if `first_bytes` starts with the two bytes of every gzip member.
inline bool starts_gzip(std::string_view first_bytes) {
    return first_bytes.size() >= 2 && first_bytes[0] == '\x1f' && first_bytes[1] == '\x8b';
}

struct gzip_options {
    const inflater_kind* inflater = nullptr; // nullptr: the default one
    std::size_t job_text = 256 * 1024;       // text handed over at a time
    std::size_t job_packed = 128 * 1024;     // compressed BGZF members at a time
    unsigned workers = 0;    // threads inflating BGZF members; 0: one per core, at most 4
    bool no_threads = false; // as where the system has no thread to give: all on the caller's
};

struct gzip_reader;
struct gzip_reader_deleter {
    void operator()(gzip_reader* reader) const;
};
using gzip_reader_ptr = std::unique_ptr<gzip_reader, gzip_reader_deleter>;

// A reader of the compressed bytes of `compressed`, of which `taken` (the
// start of the file, a few bytes) were read from it already.  From here on
// `compressed` is read only by the reader's threads, one at a time, until
// the reader is destroyed.
gzip_reader_ptr open_gzip_reader(byte_source compressed, std::string_view taken,
                                 const gzip_options& options = {});

// The text of the file: a source for the line reader.
byte_source gzip_text(gzip_reader& reader);

} // namespace tq5
