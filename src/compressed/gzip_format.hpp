// The gzip file format: what a member's header holds, and the little-endian
// fields of headers and trailers.
//
// A member: the fixed header (magic 1f 8b, method, flags, time, extra flags,
// system: 10 bytes), the optional fields the flags announce (extra field
// with its 16-bit length, zero-terminated name, zero-terminated comment,
// 16-bit CRC of the header), the deflate data, and the trailer (CRC-32 and
// length modulo 2^32 of the text, 8 bytes).  A file is members in a row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tq5::gzip {

inline constexpr unsigned char magic_0 = 0x1f;
inline constexpr unsigned char magic_1 = 0x8b;
inline constexpr unsigned char method_deflate = 8;

inline constexpr std::size_t fixed_header_size = 10;
inline constexpr std::size_t trailer_size = 8;
// Where the fixed header keeps the flags, and after it the extra field's length.
inline constexpr std::size_t flags_at = 3;
inline constexpr std::size_t extra_length_at = fixed_header_size;

// The header's flags.
inline constexpr unsigned flag_header_crc = 2;
inline constexpr unsigned flag_extra = 4;
inline constexpr unsigned flag_name = 8;
inline constexpr unsigned flag_comment = 16;
inline constexpr unsigned flags_reserved = 0xe0;

// True if `first_bytes` starts with the two bytes of every gzip member.
inline bool starts_gzip(std::string_view first_bytes) {
    return first_bytes.size() >= 2 && static_cast<unsigned char>(first_bytes[0]) == magic_0 &&
           static_cast<unsigned char>(first_bytes[1]) == magic_1;
}

inline unsigned read_le16(const unsigned char* at) {
    return at[0] | (static_cast<unsigned>(at[1]) << 8);
}
inline std::uint32_t read_le32(const unsigned char* at) {
    return read_le16(at) | (static_cast<std::uint32_t>(read_le16(at + 2)) << 16);
}

// The whole header of a member whose only optional field is the extra field
// (every BGZF member), from its first fixed_header_size + 2 bytes.
inline constexpr std::size_t extra_length_size = 2;
inline std::size_t extra_only_header_size(const unsigned char* at) {
    return fixed_header_size + extra_length_size + read_le16(at + extra_length_at);
}

} // namespace tq5::gzip
