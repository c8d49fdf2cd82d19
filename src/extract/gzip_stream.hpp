// One gzip file read member after member, on the calling thread: the
// reading that decides what a gzip file holds.  The gzip reader
// (gzip_source.hpp) runs it on a thread of its own, and falls back on it
// wherever its parallel reading of BGZF members is not sure.
#pragma once

#include "extract/inflater.hpp"
#include "extract/line_reader.hpp"

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

// Reads the little-endian 16- and 32-bit fields of gzip headers and trailers.
inline unsigned read_le16(const unsigned char* at) {
    return at[0] | (static_cast<unsigned>(at[1]) << 8);
}
inline std::uint32_t read_le32(const unsigned char* at) {
    return read_le16(at) | (static_cast<std::uint32_t>(read_le16(at + 2)) << 16);
}

} // namespace tq5
