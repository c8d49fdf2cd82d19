// Decoding ahead of the caller: a decoder of one compressed stream run on a
// thread of its own, its text handed out in order through a job ring
// (job_ring.hpp), or on the caller's thread where the system gives no
// thread.  The zstd, xz and bzip2 readers are decoders run this way; each
// reads its compressed bytes through a packed_input.
#pragma once

#include "bytes/byte_source.hpp"
#include "compressed/compressed_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tq5 {

// A reading of one compressed file.  `decode` fills up to `capacity` bytes
// of text: the count (at least 1), 0 at the end of sound data, -1 once the
// data is bad or could not be read; the text before a fault comes first,
// and the fault stays.
class text_decoder {
  public:
    virtual ~text_decoder() = default;
    virtual std::int64_t decode(char* buffer, std::size_t capacity) = 0;
};

// The compressed bytes: those taken already, then the file's.  A read
// error stays.
struct packed_input {
    byte_source file;
    std::string taken;
    bool taken_given = false;
    bool failed = false;
    bool ended = false;
    std::vector<char> buffer = std::vector<char>(128 * 1024);
};
// The next bytes into `data`: their count, 0 at the end, -1 on a read error.
std::int64_t next_packed(packed_input& input, const char*& data);

// A reader that runs `decoder` ahead of the caller, on a thread where the
// options allow one and the system starts it.
compressed_reader_ptr read_ahead(std::unique_ptr<text_decoder> decoder,
                                 const compressed_options& options);

// The decoders (zstd_reader.cpp, xz_reader.cpp, bzip2_reader.cpp).
std::unique_ptr<text_decoder> zstd_decoder(packed_input input);
std::unique_ptr<text_decoder> xz_decoder(packed_input input, const compressed_options& options);
compressed_reader_ptr open_bzip2_reader(packed_input input, const compressed_options& options);

} // namespace tq5
