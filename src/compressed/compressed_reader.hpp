// Compressed input: one reader for every compressed format the program
// reads, chosen by the file's first bytes.
//
// The first bytes decide the format of the whole file: gzip, zstd, xz or
// bzip2 is read as the text it holds; a few other formats (zip, 7z, rar,
// lz4, lzip, compress) are known and refused, since they hold no text to
// read; anything else is plain text.  Whatever the format, the reader is a
// byte source of the text and gives the verdict as gzip's does: the text
// decoded before a fault first, then -1 with the next read and every read
// after it; 0 only once the whole file checked out.  Reading the text to
// its end is what gives the verdict.  Where the system refuses a thread,
// the reader goes on with fewer, or on the caller's thread: the text and
// the verdict are the same.
#pragma once

#include "bytes/byte_source.hpp"
#include "compressed/gzip_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>

namespace tq5 {

enum class compressed_format { plain, gzip, zstd, xz, bzip2, refused };

// How many first bytes the format needs to be told (bzip2's stream header
// and the magic of its first block).
inline constexpr std::size_t format_head_size = 10;

// The format of a file that starts with `first_bytes` (format_head_size
// bytes, or the whole file where it is shorter).
compressed_format format_of(std::string_view first_bytes);

struct compressed_options {
    gzip_options gzip;    // how gzip is read; its workers and thread_limit are set from below
    unsigned threads = 0; // threads decoding side by side; 0: one per core, at most 4
    // Threads the reader may start in all (as in gzip_options).
    std::size_t thread_limit = std::numeric_limits<std::size_t>::max();
    // Memory the decoders may take for their threads (xz); with less, fewer
    // threads decode.
    std::uint64_t memory_limit = std::uint64_t{256} << 20;
    // Goes back to the start of the compressed file, for a reading that
    // must begin again with fewer threads (xz: a thread refused inside the
    // library); false where the file cannot go back.  nullptr: never.
    bool (*rewind)(void* context) = nullptr;
    void* rewind_context = nullptr;
};

class compressed_reader {
  public:
    virtual ~compressed_reader() = default;
    // As byte_source::read: the count, 0 at the end, -1 on bad data or a
    // read error.
    virtual std::int64_t read(char* buffer, std::size_t capacity) = 0;
};
using compressed_reader_ptr = std::unique_ptr<compressed_reader>;

// A reader of `compressed`, a file of `format` (not plain), of which
// `taken` (its first bytes) were read already.  From here on `compressed`
// is read only by the reader, one thread at a time, until it is destroyed.
compressed_reader_ptr open_compressed_reader(compressed_format format, byte_source compressed,
                                             std::string_view taken,
                                             const compressed_options& options = {});

// The text of the file.
byte_source compressed_text(compressed_reader& reader);

} // namespace tq5
