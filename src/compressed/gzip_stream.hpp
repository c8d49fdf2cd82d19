// One gzip file read member after member, on the calling thread: the
// reading that decides what a gzip file holds.  The gzip reader
// (gzip_reader.hpp) runs it on a thread of its own, or on the caller's, and
// falls back on it wherever its parallel reading of BGZF members is not sure.
#pragma once

#include "bytes/byte_source.hpp"
#include "compressed/inflater.hpp"

#include <cstdint>
#include <memory>
#include <string_view>

namespace tq5 {

struct gzip_stream;
struct gzip_stream_deleter {
    void operator()(gzip_stream* stream) const;
};
using gzip_stream_ptr = std::unique_ptr<gzip_stream, gzip_stream_deleter>;

// A reading of the compressed bytes `taken` followed by what `compressed`
// gives.
gzip_stream_ptr open_gzip_stream(byte_source compressed, std::string_view taken,
                                 const inflater_kind& kind);

// Fills up to `capacity` bytes of text: the count, 0 at the end of the
// data, -1 once the data is found bad.  Text decoded before a fault is
// handed out first; the fault comes with the next read, and stays.
std::int64_t read_gzip_stream(gzip_stream& stream, char* buffer, std::size_t capacity);

} // namespace tq5
