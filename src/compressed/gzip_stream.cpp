// Reading a gzip file member after member.  The members' headers and
// trailers are read here; the inflater decodes the deflate data between
// them straight into the caller's buffer.
//
// What is read: every member in turn (files joined with cat, BGZF blocks,
// the empty end-of-file member), then nothing or zero bytes only (padding).
// Anything else is bad data: a file cut short, a header that is not gzip's
// (other magic bytes, a method other than deflate, reserved flags, a header
// CRC that does not match), deflate data that cannot be decoded, a CRC or
// length in the trailer that does not match the text, or after the last
// member bytes that are neither zeros nor another member.
#include "compressed/gzip_stream.hpp"

#include "compressed/gzip_format.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace tq5 {

namespace {

constexpr std::size_t compressed_block = 128 * 1024;
constexpr std::size_t smallest_block = 4096;
// Room in front of the compressed bytes for those the inflater gives back.
constexpr std::size_t headroom = most_over_read;

enum class place { between_members, header, body, trailer, padding, ended, failed };
enum class header_part { fixed, extra_length, extra, name, comment, header_crc, done };

} // namespace

struct gzip_stream {
    byte_source compressed;
    const inflater_kind* kind = nullptr;
    inflater_ptr inflater{nullptr, inflater_deleter{nullptr}};
    std::vector<unsigned char> in; // [next, next + avail) is not read yet
    unsigned char* next = nullptr;
    std::size_t avail = 0;
    bool compressed_done = false; // the compressed source has no more
    place where = place::between_members;

    // The member being read.
    header_part part = header_part::fixed;
    unsigned flags = 0;
    std::size_t skip = 0;          // bytes of the extra field still to pass
    std::uint32_t header_crc = 0;  // of the header bytes so far
    std::uint32_t text_length = 0; // of the member's text, modulo 2^32
    std::array<unsigned char, gzip::fixed_header_size> field{};
    std::size_t field_size = 0;
};

namespace {

bool refill(gzip_stream& r) {
    unsigned char* into = r.in.data() + headroom;
    const std::int64_t got = r.compressed.read(r.compressed.context, reinterpret_cast<char*>(into),
                                               r.in.size() - headroom);
    if (got < 0) return false;
    r.next = into;
    r.avail = static_cast<std::size_t>(got);
    r.compressed_done = got == 0;
    return true;
}

void take(gzip_stream& r, std::size_t count) {
    r.next += count;
    r.avail -= count;
}

// Collects `size` bytes of a fixed field; true once they are all there.
bool collect(gzip_stream& r, std::size_t size) {
    const std::size_t count = std::min(size - r.field_size, r.avail);
    std::memcpy(r.field.data() + r.field_size, r.next, count);
    take(r, count);
    r.field_size += count;
    if (r.field_size < size) return false;
    r.field_size = 0;
    return true;
}

// The header's own CRC covers every header byte before it.
void add_to_header_crc(gzip_stream& r, std::size_t size) {
    r.header_crc = r.kind->crc32(r.header_crc, r.field.data(), size);
}

// Passes a zero-terminated field; true once its terminator is passed.
bool pass_text(gzip_stream& r) {
    const auto* end = static_cast<const unsigned char*>(std::memchr(r.next, 0, r.avail));
    const std::size_t count = end != nullptr ? static_cast<std::size_t>(end - r.next) + 1 : r.avail;
    r.header_crc = r.kind->crc32(r.header_crc, r.next, count);
    take(r, count);
    return end != nullptr;
}

header_part after(header_part part, unsigned flags) {
    switch (part) {
    case header_part::fixed:
        if ((flags & gzip::flag_extra) != 0) return header_part::extra_length;
        [[fallthrough]];
    case header_part::extra_length:
    case header_part::extra:
        if ((flags & gzip::flag_name) != 0) return header_part::name;
        [[fallthrough]];
    case header_part::name:
        if ((flags & gzip::flag_comment) != 0) return header_part::comment;
        [[fallthrough]];
    case header_part::comment:
        if ((flags & gzip::flag_header_crc) != 0) return header_part::header_crc;
        [[fallthrough]];
    default:
        return header_part::done;
    }
}

// Reads as much of the member's header as there is; false if it is bad.
bool read_header(gzip_stream& r) {
    while (r.avail > 0 && r.part != header_part::done) {
        switch (r.part) {
        case header_part::fixed:
            if (!collect(r, gzip::fixed_header_size)) break;
            add_to_header_crc(r, gzip::fixed_header_size);
            if (r.field[0] != gzip::magic_0 || r.field[1] != gzip::magic_1 ||
                r.field[2] != gzip::method_deflate ||
                (r.field[gzip::flags_at] & gzip::flags_reserved) != 0)
                return false;
            r.flags = r.field[gzip::flags_at];
            r.part = after(r.part, r.flags);
            break;
        case header_part::extra_length:
            if (!collect(r, gzip::extra_length_size)) break;
            add_to_header_crc(r, gzip::extra_length_size);
            r.skip = gzip::read_le16(r.field.data());
            r.part = header_part::extra;
            break;
        case header_part::extra: {
            const std::size_t count = std::min(r.skip, r.avail);
            r.header_crc = r.kind->crc32(r.header_crc, r.next, count);
            take(r, count);
            r.skip -= count;
            if (r.skip == 0) r.part = after(r.part, r.flags);
            break;
        }
        case header_part::name:
        case header_part::comment:
            if (pass_text(r)) r.part = after(r.part, r.flags);
            break;
        case header_part::header_crc:
            if (!collect(r, 2)) break;
            if (gzip::read_le16(r.field.data()) != (r.header_crc & 0xffff)) return false;
            r.part = header_part::done;
            break;
        case header_part::done:
            break;
        }
    }
    return true;
}

void start_member(gzip_stream& r) {
    r.kind->restart(r.inflater.get());
    r.part = header_part::fixed;
    r.header_crc = 0;
    r.text_length = 0;
    r.field_size = 0;
    r.where = place::header;
}

// Decodes into [out + made, out + room); `made` grows by the text stored.
void read_body(gzip_stream& r, unsigned char* out, std::size_t room, std::size_t& made) {
    const inflate_call call =
        r.kind->inflate(r.inflater.get(), r.next, r.avail, out + made, room - made);
    take(r, call.consumed);
    made += call.produced;
    r.text_length += static_cast<std::uint32_t>(call.produced);
    if (call.step == inflate_step::bad) {
        r.where = place::failed;
    } else if (call.step == inflate_step::stream_end) {
        // Bytes taken beyond the deflate data go back in front of the rest.
        std::array<unsigned char, most_over_read> back{};
        const std::size_t count = r.kind->over_read(r.inflater.get(), back.data());
        r.next -= count;
        r.avail += count;
        std::memcpy(r.next, back.data(), count);
        r.where = place::trailer;
    } else if (call.consumed == 0 && call.produced == 0 && (r.avail > 0 || r.compressed_done)) {
        // Nothing decoded and nothing taken: the member is cut short (or
        // the inflater is stuck, which is no better).
        r.where = place::failed;
    }
}

// One step of the reading at r.where; text goes to [out + made, out + room).
void advance(gzip_stream& r, unsigned char* out, std::size_t room, std::size_t& made) {
    switch (r.where) {
    case place::between_members:
        // Another member, zero padding, or the end.
        if (r.avail == 0)
            r.where = place::ended;
        else if (r.next[0] == 0)
            r.where = place::padding;
        else
            start_member(r);
        return;
    case place::header:
        if (r.avail == 0)
            r.where = place::failed; // cut short
        else if (!read_header(r))
            r.where = place::failed;
        else if (r.part == header_part::done)
            r.where = place::body;
        return;
    case place::body:
        read_body(r, out, room, made);
        return;
    case place::trailer:
        if (r.avail == 0) {
            r.where = place::failed; // cut short
        } else if (collect(r, gzip::trailer_size)) {
            const bool right =
                gzip::read_le32(r.field.data()) == r.kind->text_crc(r.inflater.get()) &&
                gzip::read_le32(r.field.data() + 4) == r.text_length;
            r.where = right ? place::between_members : place::failed;
        }
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
    case place::ended:
    case place::failed:
        return;
    }
}

} // namespace

void gzip_stream_deleter::operator()(gzip_stream* stream) const {
    delete stream;
}

gzip_stream_ptr open_gzip_stream(byte_source compressed, std::string_view taken,
                                 const inflater_kind& kind) {
    gzip_stream_ptr stream(new gzip_stream);
    gzip_stream& r = *stream;
    r.compressed = compressed;
    r.kind = &kind;
    r.inflater = make_inflater(kind);
    // Where memory is short, a smaller buffer does, down to one block.
    for (std::size_t block = compressed_block;; block /= 2) {
        try {
            r.in.resize(headroom + std::max(block, taken.size()));
            break;
        } catch (const std::bad_alloc&) {
            if (block <= smallest_block) throw;
        }
    }
    r.next = r.in.data() + headroom;
    if (!taken.empty()) std::memcpy(r.next, taken.data(), taken.size());
    r.avail = taken.size();
    return stream;
}

std::int64_t read_gzip_stream(gzip_stream& r, char* buffer, std::size_t capacity) {
    auto* out = reinterpret_cast<unsigned char*>(buffer);
    const std::size_t room = std::min(capacity, std::size_t{1} << 30);
    std::size_t made = 0;
    while (made < room && r.where != place::ended && r.where != place::failed) {
        if (r.avail == 0 && !r.compressed_done) {
            // What the inflater can still give from the bytes it has taken
            // (the rest of a long match, its buffered bits) comes out before
            // the source is asked again: a read error must not take it.
            if (r.where == place::body) {
                const std::size_t made_before = made;
                read_body(r, out, room, made);
                if (made > made_before || r.where != place::body) continue;
            }
            if (!refill(r)) {
                r.where = place::failed;
                break;
            }
        }
        advance(r, out, room, made);
    }
    // Text decoded before a fault is handed out; the fault comes next time.
    if (made > 0) return static_cast<std::int64_t>(made);
    return r.where == place::failed ? -1 : 0;
}

} // namespace tq5
