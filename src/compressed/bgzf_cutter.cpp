#include "compressed/bgzf_cutter.hpp"

#include "compressed/gzip_format.hpp"

#include <algorithm>
#include <cstring>

namespace tq5 {

namespace {

// A BGZF member's header: the fixed part and the extra field's length; in
// the extra field, the subfield "BC" of two bytes holds the member's size
// less one.
constexpr std::size_t bgzf_fixed = gzip::fixed_header_size + gzip::extra_length_size;
constexpr std::size_t subfield_head = 4;
constexpr std::size_t bgzf_size_field = 2;

// Makes at least `wanted` bytes ready in the carry, unless the file has no
// more; false then.
bool carry_at_least(bgzf_cutter& c, std::size_t wanted) {
    if (c.end - c.begin >= wanted) return true;
    if (wanted > c.capacity) return false;
    std::memmove(c.carry.get(), c.carry.get() + c.begin, c.end - c.begin);
    c.end -= c.begin;
    c.begin = 0;
    while (c.end < wanted && !c.file_done) {
        const std::int64_t got = c.file.read(
            c.file.context, reinterpret_cast<char*>(c.carry.get() + c.end), c.capacity - c.end);
        if (got <= 0)
            c.file_done = true;
        else
            c.end += static_cast<std::size_t>(got);
    }
    return c.end >= wanted;
}

// The size of the whole member that starts the carry, or 0 if none does.
std::size_t next_member(bgzf_cutter& c) {
    if (!carry_at_least(c, bgzf_fixed)) return 0;
    std::int64_t size = bgzf_member_size(c.carry.get() + c.begin, c.end - c.begin);
    if (size < 0 && carry_at_least(c, gzip::extra_only_header_size(c.carry.get() + c.begin)))
        size = bgzf_member_size(c.carry.get() + c.begin, c.end - c.begin);
    const auto member = static_cast<std::size_t>(std::max<std::int64_t>(size, 0));
    return member > 0 && carry_at_least(c, member) ? member : 0;
}

} // namespace

std::int64_t bgzf_member_size(const unsigned char* at, std::size_t size) {
    if (size < bgzf_fixed) return -1;
    // gzip, deflate, no flag but the extra field.
    if (at[0] != gzip::magic_0 || at[1] != gzip::magic_1 || at[2] != gzip::method_deflate ||
        at[gzip::flags_at] != gzip::flag_extra)
        return 0;
    const std::size_t extra = gzip::read_le16(at + gzip::extra_length_at);
    if (size < bgzf_fixed + extra) return -1;
    for (std::size_t field = 0; field + subfield_head <= extra;) {
        const unsigned char* sub = at + bgzf_fixed + field;
        const std::size_t length = gzip::read_le16(sub + 2);
        if (sub[0] == 'B' && sub[1] == 'C' && length == bgzf_size_field &&
            field + subfield_head + bgzf_size_field <= extra) {
            const std::size_t member = gzip::read_le16(sub + subfield_head) + std::size_t{1};
            const bool room = member >= bgzf_fixed + extra + gzip::trailer_size;
            return room ? static_cast<std::int64_t>(member) : 0;
        }
        field += subfield_head + length;
    }
    return 0;
}

void start_cutting(bgzf_cutter& c, byte_source file, std::string_view taken,
                   std::size_t most_packed) {
    c.file = file;
    // Room for a whole run after what is left of the last one, and for the
    // largest header that the size is read from.
    c.capacity = std::max(2 * most_packed, taken.size() + 64 * 1024 + 16);
    c.carry = std::make_unique_for_overwrite<unsigned char[]>(c.capacity);
    std::memcpy(c.carry.get(), taken.data(), taken.size());
    c.begin = 0;
    c.end = taken.size();
    c.file_done = false;
    c.done = false;
}

std::size_t cut_members(bgzf_cutter& c, unsigned char* packed, std::size_t most_packed,
                        std::size_t most_text, std::vector<member_span>& members) {
    std::size_t packed_size = 0;
    std::size_t text_size = 0;
    while (!c.done) {
        const std::size_t member = next_member(c);
        const unsigned char* at = c.carry.get() + c.begin;
        // The length of the member's text, from its trailer.
        const std::size_t text = member > 0 ? gzip::read_le32(at + member - 4) : 0;
        if (member == 0 || member > most_packed || text > most_text) {
            // Not for cutting: the run ends here, and if it is empty, so
            // does the cutting.
            if (members.empty()) c.done = true;
            break;
        }
        if (packed_size + member > most_packed || text_size + text > most_text) break;
        std::memcpy(packed + packed_size, at, member);
        members.push_back({packed_size, member});
        packed_size += member;
        c.begin += member;
        text_size += text;
    }
    return packed_size;
}

} // namespace tq5
