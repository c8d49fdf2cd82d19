#include "platform/console_text.hpp"

#include <algorithm>
#include <iterator>

namespace tq5::platform {

namespace {

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xd800 && unit <= 0xdbff;
}

bool is_low_surrogate(char16_t unit) {
    return unit >= 0xdc00 && unit <= 0xdfff;
}

// Puts `count` units as UTF-8 at `out` (at most three bytes a unit) and
// returns how many bytes that took.
std::size_t put_utf8(const char16_t* units, std::size_t count, char* out) {
    char* at = out;
    for (std::size_t i = 0; i < count; ++i) {
        char32_t code = units[i];
        if (is_high_surrogate(units[i]) && i + 1 < count && is_low_surrogate(units[i + 1]))
            code = 0x10000 + ((code - 0xd800) << 10) + (units[++i] - 0xdc00u);
        else if (is_high_surrogate(units[i]) || is_low_surrogate(units[i]))
            code = 0xfffd;
        if (code < 0x80) {
            *at++ = static_cast<char>(code);
            continue;
        }
        // The lead byte, then six bits a byte, the highest first.
        const int tail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
        const char32_t lead = tail == 1 ? 0xc0 : tail == 2 ? 0xe0 : 0xf0;
        *at++ = static_cast<char>(lead | code >> (6 * tail));
        for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6)
            *at++ = static_cast<char>(0x80 | ((code >> shift) & 0x3f));
    }
    return static_cast<std::size_t>(at - out);
}

// Valid UTF-8: no overlong form, no surrogate, nothing beyond U+10FFFF, no
// sequence cut short.
bool is_utf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The length of the sequence, and the range of its second byte,
        // which is where the forbidden code points show.
        std::size_t length = 4;
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            if (lead == 0xe0) low = 0xa0;
            if (lead == 0xed) high = 0x9f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            if (lead == 0xf0) low = 0x90;
            if (lead == 0xf4) high = 0x8f;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xbf)) return false;
        }
        i += length;
    }
    return true;
}

// The answers after a UTF-16 mark, as units for `read_typed`.
struct unit_reader {
    piped_answers& piped;
    byte_source source;
};

std::int64_t read_units(void* context, char16_t* units, std::size_t count) {
    auto& [piped, source] = *static_cast<unit_reader*>(context);
    constexpr std::size_t most = sizeof typed_answers::units / sizeof(char16_t);
    unsigned char bytes[2 * most];
    const std::size_t wanted = 2 * std::min(count, most);
    std::size_t have = 0;
    while (have < 2) {
        if (piped.odd >= 0) bytes[have++] = static_cast<unsigned char>(piped.odd);
        piped.odd = -1;
        if (piped.ended) {
            if (have == 0) return 0;
            units[0] = 0xfffd; // a byte without the other half of its unit
            return 1;
        }
        const std::int64_t got =
            source.read(source.context, reinterpret_cast<char*>(bytes) + have, wanted - have);
        if (got < 0) return -1;
        if (got == 0) piped.ended = true;
        have += static_cast<std::size_t>(got);
        if (have % 2 != 0) piped.odd = bytes[--have];
    }
    const bool little = piped.form == answer_form::utf16le;
    for (std::size_t i = 0; i < have / 2; ++i) {
        const auto unit = static_cast<char16_t>(little ? bytes[2 * i] | bytes[2 * i + 1] << 8
                                                       : bytes[2 * i] << 8 | bytes[2 * i + 1]);
        units[i] = unit == 0 ? u'\xfffd' : unit;
    }
    return static_cast<std::int64_t>(have / 2);
}

// Reads the first bytes, one at a time, as far as they can be a mark.
answer_form find_mark(piped_answers& piped, byte_source source) {
    static constexpr struct {
        const char* bytes;
        std::size_t size;
        answer_form form;
    } marks[] = {{"\xef\xbb\xbf", 3, answer_form::bytes},
                 {"\xff\xfe", 2, answer_form::utf16le},
                 {"\xfe\xff", 2, answer_form::utf16be}};
    for (;;) {
        bool may_be_one = false;
        for (const auto& mark : marks) {
            if (piped.start_size > mark.size ||
                !std::equal(piped.start, piped.start + piped.start_size, mark.bytes))
                continue;
            if (piped.start_size == mark.size) {
                piped.start_size = 0;
                return mark.form;
            }
            may_be_one = true;
        }
        if (!may_be_one || piped.ended) return answer_form::bytes;
        const std::int64_t got = source.read(source.context, piped.start + piped.start_size, 1);
        if (got < 0) return answer_form::unknown;
        if (got == 0) piped.ended = true;
        piped.start_size += static_cast<std::size_t>(got);
    }
}

} // namespace

std::int64_t read_piped(piped_answers& piped, byte_source source, char* buffer,
                        std::size_t capacity) {
    if (piped.form == answer_form::unknown) {
        source.reading_as(source.context, answer_form::unknown);
        piped.form = find_mark(piped, source);
        if (piped.form == answer_form::unknown) return -1;
        source.reading_as(source.context, piped.form);
    }
    if (piped.form != answer_form::bytes) {
        unit_reader reader{piped, source};
        piped.units.cut_half_replaced = true;
        return read_typed(piped.units, {read_units, &reader}, buffer, capacity);
    }
    if (piped.start_size > 0) {
        // The bytes that were no mark, as text mode would give them: up to
        // a Ctrl-Z, which ends the answers.
        const char* end = std::find(piped.start, piped.start + piped.start_size, '\x1a');
        const auto size = static_cast<std::size_t>(end - piped.start);
        if (size < piped.start_size) piped.ended = true;
        std::copy(piped.start, piped.start + size, buffer);
        piped.start_size = 0;
        if (size > 0 || piped.ended) return static_cast<std::int64_t>(size);
    }
    if (piped.ended) return 0;
    return source.read(source.context, buffer, capacity);
}

std::int64_t read_typed(typed_answers& typed, unit_source source, char* buffer,
                        std::size_t capacity) {
    // A unit takes at most three bytes of UTF-8 (a pair takes four).
    const std::size_t room = std::min(capacity / 3, std::size(typed.units));
    std::size_t count = 0;
    while (count == 0 && !typed.ended) {
        if (typed.held != 0) typed.units[count++] = typed.held;
        typed.held = 0;
        const std::int64_t got = source.read(source.context, typed.units + count, room - count);
        if (got < 0) return -1;
        if (got == 0) typed.ended = true;
        count += static_cast<std::size_t>(got);
        const char16_t* end = std::find(typed.units, typed.units + count, u'\x1a');
        if (end != typed.units + count) {
            count = static_cast<std::size_t>(end - typed.units);
            typed.ended = true;
        } else if (count > 0 && is_high_surrogate(typed.units[count - 1]) &&
                   !(typed.ended && typed.cut_half_replaced)) {
            typed.held = typed.units[--count];
        }
    }
    return static_cast<std::int64_t>(put_utf8(typed.units, count, buffer));
}

std::string answer_as_utf8(const std::string& answer,
                           std::u16string (*ansi_to_utf16)(const std::string& text)) {
    if (is_utf8(answer)) return answer;
    const std::u16string units = ansi_to_utf16(answer);
    if (units.empty()) return answer;
    std::string name(3 * units.size(), '\0');
    name.resize(put_utf8(units.data(), units.size(), name.data()));
    return name;
}

} // namespace tq5::platform
