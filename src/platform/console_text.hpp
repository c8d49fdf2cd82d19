// The answers' text on Windows, in plain C++ that builds and runs anywhere:
// what the user types at a console, which the console hands over as UTF-16,
// turned into the UTF-8 that the dialogue reads; and the choice between
// UTF-8 and the ANSI code page for an answer from a pipe or a file.  The
// system's calls come in as functions, so that the tests can give their own.
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
};

// The smallest buffer that `read_typed` fills: two units, a surrogate pair
// or a first half that turns out unpaired and the unit after it.
inline constexpr std::size_t smallest_answer_buffer = 6;

// Reads what was typed from `source` and puts it into `buffer` as UTF-8:
// the count of bytes, 0 at the end, -1 on an error.  `capacity` is at least
// `smallest_answer_buffer`.  A surrogate pair cut by the end of a read is put
// whole with the next read; a surrogate without its other half becomes
// U+FFFD, except a first half that the end of the input cuts off, which is
// dropped.  Ctrl-Z ends the answers, as it does in text mode: what follows
// it is never read.
std::int64_t read_typed(typed_answers& typed, unit_source source, char* buffer,
                        std::size_t capacity);

// The answer, a word from a pipe or a file, in UTF-8: the answer itself
// where it is valid UTF-8, else its text in the ANSI code page, which
// `ansi_to_utf16` gives (empty where it cannot; the answer is then kept).
std::string answer_as_utf8(const std::string& answer,
                           std::u16string (*ansi_to_utf16)(const std::string& text));

} // namespace tq5::platform
