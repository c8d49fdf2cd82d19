// The gzip reader.  zlib decodes the members, straight into the line
// reader's block; the reader here only feeds it the compressed bytes in
// large pieces and decides what may come between and after the members.
#include "extract/gzip_source.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tq5 {

namespace {

constexpr std::size_t compressed_block = 128 * 1024;
// zlib counts in 32 bits.
constexpr std::size_t largest_request = std::size_t{1} << 30;

enum class place { between_members, in_member, padding, ended, failed };
enum class step { going, member_end, bad };

} // namespace

struct gzip_reader {
    byte_source compressed;
    std::vector<unsigned char> in; // [next, next + avail) is not decoded yet
    const unsigned char* next = nullptr;
    std::size_t avail = 0;
    bool compressed_done = false; // the compressed source has no more
    place where = place::between_members;
    z_stream zlib{};
    bool zlib_ready = false;
};

namespace {

bool refill(gzip_reader& r) {
    const std::int64_t got =
        r.compressed.read(r.compressed.context, reinterpret_cast<char*>(r.in.data()), r.in.size());
    if (got < 0) return false;
    r.next = r.in.data();
    r.avail = static_cast<std::size_t>(got);
    r.compressed_done = got == 0;
    return true;
}

bool start_member(gzip_reader& r) {
    if (r.zlib_ready) return inflateReset(&r.zlib) == Z_OK;
    // 16 + 15: a gzip header and trailer around the deflate data, a 32 KiB window.
    r.zlib_ready = inflateInit2(&r.zlib, 16 + 15) == Z_OK;
    return r.zlib_ready;
}

// Decodes from r.next into [out, out + room); `made` grows by the bytes
// stored.
step inflate_some(gzip_reader& r, unsigned char* out, std::size_t room, std::size_t& made) {
    const auto in_size = static_cast<std::uint32_t>(std::min(r.avail, largest_request));
    const auto out_size = static_cast<std::uint32_t>(std::min(room, largest_request));
    z_stream& z = r.zlib;
    z.next_in = const_cast<unsigned char*>(r.next);
    z.avail_in = in_size;
    z.next_out = out;
    z.avail_out = out_size;
    const int result = inflate(&z, Z_NO_FLUSH);
    made += out_size - z.avail_out;
    r.avail -= static_cast<std::size_t>(z.next_in - r.next);
    r.next = z.next_in;
    if (result == Z_STREAM_END) return step::member_end;
    return result == Z_OK || result == Z_BUF_ERROR ? step::going : step::bad;
}

// One step of the reading at r.where; text goes to [out + made, out + room).
void advance(gzip_reader& r, unsigned char* out, std::size_t room, std::size_t& made) {
    switch (r.where) {
    case place::between_members:
        // Another member, zero padding, or the end.
        if (r.avail == 0)
            r.where = place::ended;
        else if (r.next[0] == 0)
            r.where = place::padding;
        else
            r.where = start_member(r) ? place::in_member : place::failed;
        return;
    case place::padding: {
        const bool zeros = std::all_of(r.next, r.next + r.avail, [](auto b) { return b == 0; });
        r.avail = 0;
        if (!zeros)
            r.where = place::failed;
        else if (r.compressed_done)
            r.where = place::ended;
        return;
    }
    case place::in_member: {
        const std::size_t avail_before = r.avail;
        const std::size_t made_before = made;
        const step result = inflate_some(r, out + made, room - made, made);
        if (result == step::bad) {
            r.where = place::failed;
        } else if (result == step::member_end) {
            r.where = place::between_members;
        } else if (made == made_before && r.avail == avail_before &&
                   (r.avail > 0 || r.compressed_done)) {
            // Nothing decoded and nothing taken: the member is cut short
            // (or the inflater is stuck, which is no better).
            r.where = place::failed;
        }
        return;
    }
    case place::ended:
    case place::failed:
        return;
    }
}

std::int64_t read_text(void* context, char* buffer, std::size_t capacity) {
    auto& r = *static_cast<gzip_reader*>(context);
    auto* out = reinterpret_cast<unsigned char*>(buffer);
    const std::size_t room = std::min(capacity, largest_request);
    std::size_t made = 0;
    while (made < room && r.where != place::ended && r.where != place::failed) {
        if (r.avail == 0 && !r.compressed_done && !refill(r)) {
            r.where = place::failed;
            break;
        }
        advance(r, out, room, made);
    }
    // Text decoded before an error is handed out; the error comes next time.
    if (made > 0) return static_cast<std::int64_t>(made);
    return r.where == place::failed ? -1 : 0;
}

} // namespace

void gzip_reader_deleter::operator()(gzip_reader* reader) const {
    if (reader->zlib_ready) inflateEnd(&reader->zlib);
    delete reader;
}

gzip_reader_ptr open_gzip_reader(byte_source compressed, std::string_view taken) {
    gzip_reader_ptr reader(new gzip_reader);
    reader->compressed = compressed;
    reader->in.assign(std::max(compressed_block, taken.size()), 0);
    if (!taken.empty()) std::memcpy(reader->in.data(), taken.data(), taken.size());
    reader->next = reader->in.data();
    reader->avail = taken.size();
    return reader;
}

byte_source gzip_text(gzip_reader& reader) {
    return {read_text, &reader};
}

} // namespace tq5
