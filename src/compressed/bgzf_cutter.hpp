// BGZF files (the blocked gzip of sequence tools) are members of at most
// 64 KiB in a row, each with its whole size in its header's extra field
// (subfield "BC").  The cutter takes the compressed bytes from the file and
// cuts them into runs of whole members, without inflating anything, so that
// the runs can be inflated side by side.
//
// It stops at the first thing that is not plainly a whole BGZF member (a
// plain gzip member, padding, the end of the file, a read error, a member
// too big for a run): from there on the bytes are left to the reading
// member after member, which decides what they hold.
#pragma once

#include "bytes/byte_source.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tq5 {

// A member within a run of packed bytes.
struct member_span {
    std::size_t at = 0;   // where it starts
    std::size_t size = 0; // the whole member, header and trailer included
};

struct bgzf_cutter {
    byte_source file;
    // The bytes read from the file and not yet cut: [begin, end).
    std::unique_ptr<unsigned char[]> carry;
    std::size_t capacity = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool file_done = false; // the file gave its last byte, or an error
    bool done = false;      // the next bytes are not for cutting
};

// The size of the BGZF member that starts at `at` (`size` bytes there), 0
// if it is not one, or -1 if more bytes are needed to tell.
std::int64_t bgzf_member_size(const unsigned char* at, std::size_t size);

// Starts with `taken`, the bytes already read from `file`; a run holds at
// most `most_packed` bytes of members.
void start_cutting(bgzf_cutter& cutter, byte_source file, std::string_view taken,
                   std::size_t most_packed);

// Cuts the next run into `packed` (room for `most_packed` bytes): as many
// whole members as fit there with at most `most_text` bytes of text.  Their
// places go to `members`; returns the bytes used.  A run without a member
// means that the cutting is done.
std::size_t cut_members(bgzf_cutter& cutter, unsigned char* packed, std::size_t most_packed,
                        std::size_t most_text, std::vector<member_span>& members);

// The bytes read and not cut, to be read member after member.
inline std::string_view left_uncut(const bgzf_cutter& cutter) {
    return {reinterpret_cast<const char*>(cutter.carry.get() + cutter.begin),
            cutter.end - cutter.begin};
}

} // namespace tq5
