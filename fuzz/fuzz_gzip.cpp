// libFuzzer target: the gzip reader.  The first byte picks the mode and the
// lengths of the compressed reads (1 to 64 bytes) and of the text requests.
//   - even: the rest is text, compressed here into two members cut where the
//     second byte says, with zero padding when its low bit is set; the reader
//     must give the text back byte for byte and then end, not fail;
//   - odd: the rest is a compressed file as it comes; the reader must end or
//     fail within a bounded number of reads, and stay ended or failed.
#include "extract/gzip_source.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct memory_file {
    std::string_view data;
    std::size_t most_per_read;
};

std::int64_t read_memory(void* context, char* buffer, std::size_t capacity) {
    auto& file = *static_cast<memory_file*>(context);
    const std::size_t count = std::min({capacity, file.most_per_read, file.data.size()});
    if (count > 0) std::memcpy(buffer, file.data.data(), count);
    file.data.remove_prefix(count);
    return static_cast<std::int64_t>(count);
}

std::string gzip_member(std::string_view text) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
    std::string out(deflateBound(&z, text.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    const bool compress = bytes[0] % 2 == 0;
    std::string file(rest);
    if (compress) {
        const std::size_t cut = rest.size() * bytes[1] / 256;
        file = gzip_member(rest.substr(0, cut)) + gzip_member(rest.substr(cut));
        if (bytes[1] % 2 == 1) file += std::string(100, '\0');
    }
    memory_file source{file, 1 + bytes[0] % 64u};
    const auto reader = tq5::open_gzip_reader({read_memory, &source}, {});
    const tq5::byte_source text = tq5::gzip_text(*reader);
    std::string got;
    std::vector<char> buffer(1 + bytes[0] / 4u);
    std::int64_t last = 1;
    // Deflate expands a byte into at most 1032 or so: a bound on the reads.
    for (std::size_t reads = 0; last > 0; ++reads) {
        if (reads > 1100 * file.size() + 10) std::abort(); // never ends
        last = text.read(text.context, buffer.data(), buffer.size());
        if (last > 0) got.append(buffer.data(), static_cast<std::size_t>(last));
    }
    if (text.read(text.context, buffer.data(), buffer.size()) != last) std::abort(); // not sticky
    if (compress && (last != 0 || got != rest)) std::abort(); // not the text compressed
    return 0;
}
