#include "compressed/compressed_reader.hpp"

#include "compressed/gzip_format.hpp"
#include "compressed/read_ahead.hpp"

#include <algorithm>
#include <string>
#include <thread>

namespace tq5 {

namespace {

bool starts_with(std::string_view bytes, std::string_view magic) {
    return bytes.substr(0, magic.size()) == magic;
}

using namespace std::string_view_literals;

// Formats that hold no text the program could read.
constexpr std::string_view refused_magic[] = {
    "PK\x03\x04"sv,         "PK\x05\x06"sv,
    "PK\x07\x08"sv,                               // zip (a file, an empty archive, a split one)
    "7z\xbc\xaf\x27\x1c"sv,                       // 7z
    "Rar!\x1a\x07"sv,                             // rar
    "\x04\x22\x4d\x18"sv,   "\x02\x21\x4c\x18"sv, // lz4 (frame, legacy)
    "LZIP\x01"sv,                                 // lzip
    "\x1f\x9d"sv,                                 // compress (.Z)
};

bool starts_bzip2(std::string_view bytes) {
    if (bytes.size() < format_head_size || !starts_with(bytes, "BZh") || bytes[3] < '1' ||
        bytes[3] > '9')
        return false;
    const std::string_view block = bytes.substr(4, 6);
    return block == "\x31\x41\x59\x26\x53\x59"sv || block == "\x17\x72\x45\x38\x50\x90"sv;
}

bool starts_zstd(std::string_view bytes) {
    return starts_with(bytes, "\x28\xb5\x2f\xfd"sv) ||
           (bytes.size() >= 4 && (static_cast<unsigned char>(bytes[0]) & 0xf0) == 0x50 &&
            bytes.substr(1, 3) == "\x2a\x4d\x18"sv);
}

class gzip_wrapper final : public compressed_reader {
  public:
    explicit gzip_wrapper(gzip_reader_ptr reader) : reader_(std::move(reader)) {}
    std::int64_t read(char* buffer, std::size_t capacity) override {
        const byte_source text = gzip_text(*reader_);
        return text.read(text.context, buffer, capacity);
    }

  private:
    gzip_reader_ptr reader_;
};

// A format the program does not read: no text, a failure.
class refused_reader final : public compressed_reader {
  public:
    std::int64_t read(char*, std::size_t) override { return -1; }
};

std::int64_t read_reader(void* context, char* buffer, std::size_t capacity) {
    return static_cast<compressed_reader*>(context)->read(buffer, capacity);
}

} // namespace

compressed_format format_of(std::string_view first_bytes) {
    if (gzip::starts_gzip(first_bytes)) return compressed_format::gzip;
    if (starts_zstd(first_bytes)) return compressed_format::zstd;
    if (starts_with(first_bytes, "\xfd\x37\x7a\x58\x5a\x00"sv)) return compressed_format::xz;
    if (starts_bzip2(first_bytes)) return compressed_format::bzip2;
    for (const std::string_view magic : refused_magic)
        if (starts_with(first_bytes, magic)) return compressed_format::refused;
    return compressed_format::plain;
}

compressed_reader_ptr open_compressed_reader(compressed_format format, byte_source compressed,
                                             std::string_view taken,
                                             const compressed_options& options) {
    compressed_options o = options;
    if (o.threads == 0) o.threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    packed_input input{compressed, std::string(taken)};
    switch (format) {
    case compressed_format::gzip: {
        gzip_options g = o.gzip;
        g.workers = o.threads;
        g.thread_limit = std::min(g.thread_limit, o.thread_limit);
        return std::make_unique<gzip_wrapper>(open_gzip_reader(compressed, taken, g));
    }
    case compressed_format::zstd:
        return read_ahead(zstd_decoder(std::move(input)), o);
    case compressed_format::xz:
        return read_ahead(xz_decoder(std::move(input), o), o);
    case compressed_format::bzip2:
        return open_bzip2_reader(std::move(input), o);
    case compressed_format::plain:
    case compressed_format::refused:
        break;
    }
    return std::make_unique<refused_reader>();
}

byte_source compressed_text(compressed_reader& reader) {
    return {read_reader, &reader};
}

} // namespace tq5
