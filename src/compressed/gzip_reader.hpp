// Compressed input: a gzip file read as the text it holds.
//
// GenBank release and RefSeq files come gzip-compressed, some as BGZF (many
// small members in a row, each with its size in its header).  The reader
// takes the compressed bytes from one byte source and is itself a byte
// source of the text, so that a reader above it sees the same bytes as from
// the uncompressed file.
//
// The inflating runs ahead of the caller on other threads: several for a
// BGZF file, whose members are inflated side by side and handed out in
// order, then one reading the rest member after member.  What the text is,
// and where bad data ends it, is decided as by the reading member after
// member (gzip_stream.hpp): the text decoded before a fault is handed out
// first, the fault (-1) comes with the next read, and every read after it
// fails too.  No thread outlives the reader.  Where the system gives no
// thread, at any point, the reader goes on with the threads it has, or
// inflates on the caller's thread, one member after another: the text is
// the same.
#pragma once

#include "bytes/byte_source.hpp"
#include "compressed/inflater.hpp"

#include <cstddef>
#include <limits>
#include <memory>
#include <string_view>

namespace tq5 {

struct gzip_options {
    const inflater_kind* inflater = nullptr; // nullptr: the default one
    std::size_t job_text = 256 * 1024;       // text handed over at a time
    std::size_t job_packed = 128 * 1024;     // compressed BGZF members at a time
    unsigned workers = 0; // threads inflating BGZF members; 0: one per core, at most 4
    // Threads the reader may start in all, workers and reading thread: any
    // start beyond is refused as the system may refuse one.
    std::size_t thread_limit = std::numeric_limits<std::size_t>::max();
};

struct gzip_reader;
struct gzip_reader_deleter {
    void operator()(gzip_reader* reader) const;
};
using gzip_reader_ptr = std::unique_ptr<gzip_reader, gzip_reader_deleter>;

// A reader of the compressed bytes of `compressed`, of which `taken` (the
// start of the file, a few bytes) were read from it already.  From here on
// `compressed` is read only by the reader, one thread at a time, until the
// reader is destroyed.
gzip_reader_ptr open_gzip_reader(byte_source compressed, std::string_view taken,
                                 const gzip_options& options = {});

// The text of the file.
byte_source gzip_text(gzip_reader& reader);

} // namespace tq5
