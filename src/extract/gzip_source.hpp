// Compressed input: a gzip file read as the text it holds.
//
// GenBank release and RefSeq files come gzip-compressed, some as BGZF (many
// small members in a row).  The reader below takes the compressed bytes from
// one byte source and is itself a byte source of the text, so that the line
// reader above it sees the same bytes as from the uncompressed file.
//
// What is read: every member in turn (files joined with cat, BGZF blocks,
// the empty end-of-file member), then nothing or zero bytes only (padding).
// Anything else is a read error (-1): a file cut short, a CRC or length
// that does not match the text, deflate data that cannot be decoded, or
// after the last member bytes that are neither zeros nor another member.
// The text decoded before an error is handed out first; the error comes
// with the next read, and every read after it fails too.
#pragma once

#include "extract/line_reader.hpp"

#include <memory>
#include <string_view>

namespace tq5 {

// True if `first_bytes` starts with the two bytes of every gzip member.
inline bool starts_gzip(std::string_view first_bytes) {
    return first_bytes.size() >= 2 && first_bytes[0] == '\x1f' && first_bytes[1] == '\x8b';
}

struct gzip_reader;
struct gzip_reader_deleter {
    void operator()(gzip_reader* reader) const;
};
using gzip_reader_ptr = std::unique_ptr<gzip_reader, gzip_reader_deleter>;

// A reader of the compressed bytes of `compressed`, of which `taken` (the
// start of the file, a few bytes) were read from it already.
gzip_reader_ptr open_gzip_reader(byte_source compressed, std::string_view taken);

// The text of the file: a source for the line reader.
byte_source gzip_text(gzip_reader& reader);

} // namespace tq5
