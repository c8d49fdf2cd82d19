// The answers' text on Windows, in plain C++ that builds and runs anywhere:
// what the user types at a console, which the console hands over as UTF-16,
// turned into the UTF-8 that the dialogue reads; answers from a pipe or a
// file, read in the encoding that a byte-order mark at their start names;
// and the choice between UTF-8 and the ANSI code page for an answer from a
// pipe or a file without a mark.  The system's calls come in as functions,
// so that the tests can give their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tq5::platform {

// Reads up to `count` (at least 1) UTF-16 units of what was typed: how many
// it read, 0 at the end, -1 on an error.
struct unit_source {
    std::int64_t (*read)(void* context, char16_t* units, std::size_t count) = nullptr;
    void* context = nullptr;
};

// What the user typed, between reads.
struct typed_answers {
    char16_t units[1024];
    char16_t held = 0; // the first half of a surrogate pair, waiting for the second
    bool ended = false;
    bool cut_half_replaced = false; // a first half that the end cuts off becomes U+FFFD
};

// The smallest buffer that `read_typed` fills: two units, a surrogate pair
// or a first half that turns out unpaired and the unit after it.
inline constexpr std::size_t smallest_answer_buffer = 6;

// Reads what was typed from `source` and puts it into `buffer` as UTF-8:
// the count of bytes, 0 at the end, -1 on an error.  `capacity` is at least
// `smallest_answer_buffer`.  A surrogate pair cut by the end of a read is put
// whole with the next read; a surrogate without its other half becomes
// U+FFFD, except a first half that the end of the input cuts off, which is
// dropped (becomes U+FFFD where `cut_half_replaced` says so).  Ctrl-Z ends
// the answers, as it does in text mode: what follows it is never read.
std::int64_t read_typed(typed_answers& typed, unit_source source, char* buffer,
                        std::size_t capacity);

// How answers from a pipe or a file are written, as the byte-order mark at
// their start tells: `bytes` without a mark (and after the UTF-8 mark, EF BB
// BF), UTF-16 little-endian after FF FE, big-endian after FE FF.
enum class answer_form : unsigned char { unknown, bytes, utf16le, utf16be };

// Reads up to `count` (at least 1) bytes of the answers: how many it read,
// 0 at the end, -1 on an error.  `reading_as` comes first with `unknown`,
// for the bytes that may be a mark, which are to come as they are, and then
// with the form found, before the bytes after the mark are read: the
// system's text mode suits the answers in `bytes` (Ctrl-Z ends them, CR LF
// becomes a line feed), not UTF-16, whose units it would cut apart.
struct byte_source {
    std::int64_t (*read)(void* context, char* bytes, std::size_t count) = nullptr;
    void (*reading_as)(void* context, answer_form form) = nullptr;
    void* context = nullptr;
};

// The answers from a pipe or a file, between reads.
struct piped_answers {
    answer_form form = answer_form::unknown;
    char start[3]{}; // bytes read in looking for a mark that were none
    std::size_t start_size = 0;
    bool ended = false;
    int odd = -1; // the first byte of a UTF-16 unit that the end of a read cut off
    typed_answers units;
};

// Reads the answers from `source` and puts them into `buffer` like
// `read_typed`.  The mark is read a byte at a time, so that nothing beyond it
// is read before the source knows the form.  Without a mark the bytes come as
// they are; the UTF-8 mark is dropped.  UTF-16 comes as UTF-8, decoded across
// reads: a unit or a surrogate pair that a read cuts is put whole with the
// next, a surrogate without its other half, an odd byte at the end and the
// unit 0 (which would end a file name short) become U+FFFD, and the unit
// Ctrl-Z ends the answers as the byte does in text mode.
std::int64_t read_piped(piped_answers& piped, byte_source source, char* buffer,
                        std::size_t capacity);

// The answer, a word from a pipe or a file, in UTF-8: the answer itself
// where it is valid UTF-8, else its text in the ANSI code page, which
// `ansi_to_utf16` gives (empty where it cannot; the answer is then kept).
std::string answer_as_utf8(const std::string& answer,
                           std::u16string (*ansi_to_utf16)(const std::string& text));

} // namespace tq5::platform
