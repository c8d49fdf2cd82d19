// The text rule of the line reader, written as plainly as possible: one
// byte at a time, no blocks.  Tests and the fuzzer hold the real reader to
// it.
#pragma once

#include "extract/line_reader.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace tq5::testing {

struct reference_reader {
    std::string_view data; // the input up to its first byte 26
    std::size_t at = 0;
    bool at_end = false;

    explicit reference_reader(std::string_view input) : data(input.substr(0, input.find('\x1a'))) {}

    // One read: the text of the next piece, up to a NUL.  Returns whether
    // the input is at its end after it.
    bool read(std::string& text) {
        text.clear();
        while (!at_end && text.size() < line_piece_limit) {
            if (at == data.size()) {
                at_end = true;
                break;
            }
            const char c = data[at++];
            if (c == '\n') break;
            if (c == '\r' && at < data.size() && data[at] == '\n') continue;
            text += c;
        }
        if (const auto nul = text.find('\0'); nul != text.npos) text.resize(nul);
        return at_end;
    }

    // Reads until a piece contains `first` or `second` (an empty `second`
    // is not looked for); false when a read meets the end first.
    bool read_until(std::string& text, std::string_view first, std::string_view second = {}) {
        for (;;) {
            if (read(text)) return false;
            if (text.find(first) != text.npos) return true;
            if (!second.empty() && text.find(second) != text.npos) return true;
        }
    }
};

// Reads `input` with the real reader (blocks of `block_size`, reads of at
// most `most_per_read` bytes, 0 for no limit) and with the reference, in
// the same cycle of read_line and read_until calls with the scanner's
// texts, up to the end.  Returns "" if every call gave the same result and
// the same line, otherwise a description of the first difference.
inline std::string first_difference(std::string_view input, std::size_t block_size,
                                    std::size_t most_per_read = 0) {
    struct memory {
        std::string_view data;
        std::size_t offset;
        std::size_t most;
        static std::int64_t read(void* context, char* buffer, std::size_t capacity) {
            auto& m = *static_cast<memory*>(context);
            std::size_t count = std::min(capacity, m.data.size() - m.offset);
            if (m.most != 0) count = std::min(count, m.most);
            m.data.substr(m.offset, count).copy(buffer, count);
            m.offset += count;
            return static_cast<std::int64_t>(count);
        }
    } source{input, 0, most_per_read};
    line_reader reader;
    start_reading(reader, {memory::read, &source}, {}, block_size);
    reference_reader reference(input);
    text_line line;
    std::string expected;
    for (std::size_t call = 0; call <= 2 * input.size() + 2; ++call) {
        bool got = false;
        bool wanted = false;
        const char* what = "read_line";
        switch (call % 5) {
        case 0:
            what = "read_until FEATURES";
            got = tq5::read_until(reader, line, "FEATURES");
            wanted = reference.read_until(expected, "FEATURES");
            break;
        case 1:
        case 4:
            what = "read_until ORIGIN or CDS";
            got = tq5::read_until(reader, line, "ORIGIN", "  CDS  ");
            wanted = reference.read_until(expected, "ORIGIN", "  CDS  ");
            break;
        case 3:
            what = "read_until CDS";
            got = tq5::read_until(reader, line, "  CDS  ");
            wanted = reference.read_until(expected, "  CDS  ");
            break;
        default:
            got = tq5::read_line(reader, line);
            wanted = reference.read(expected);
            break;
        }
        if (got != wanted || line.view() != expected || reader.at_end != reference.at_end)
            return "call " + std::to_string(call) + " (" + what + "): got \"" +
                   std::string(line.view()) + "\", expected \"" + expected + "\"";
        if (reference.at_end) return {};
    }
    return "the reader does not reach the end";
}

} // namespace tq5::testing
