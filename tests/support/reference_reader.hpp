// The text rule of the line reader, written as plainly as possible: one
// byte at a time from a string, no blocks.  Tests and the fuzzer hold the
// real reader to it.
#pragma once

#include "extract/line_reader.hpp"
#include "support/memory_io.hpp"

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

// The calls a comparison makes, one letter each, over and over: read_line
// ('l'), read_until with the scanner's texts ('f' "FEATURES", 'o' "ORIGIN"
// or "  CDS  ", 'c' "  CDS  "), with a lone carriage return, which a CR LF
// pair does not hold ('r'), and with a single letter ('x').
inline constexpr std::string_view reading_plans[] = {"l", "o", "c",    "f",
                                                     "r", "x", "lolc", "fololrx"};

// Reads `input` with the real reader (blocks of `block_size`, reads of at
// most `most_per_read` bytes, 0 for no limit) and with the reference, in
// the calls of `plan`, up to the end.  Returns "" if every call gave the
// same result and the same line, otherwise a description of the first
// difference.
inline std::string plan_difference(std::string_view input, std::string_view plan,
                                   std::size_t block_size, std::size_t most_per_read = 0) {
    memory_source source{input, 0, most_per_read};
    line_reader reader;
    start_reading(reader, {read_memory, &source}, {}, block_size);
    reference_reader reference(input);
    text_line line;
    std::string expected;
    for (std::size_t call = 0; call <= 2 * input.size() + 2; ++call) {
        std::string_view first;
        std::string_view second;
        switch (plan[call % plan.size()]) {
        case 'f':
            first = "FEATURES";
            break;
        case 'o':
            first = "ORIGIN";
            second = "  CDS  ";
            break;
        case 'c':
            first = "  CDS  ";
            break;
        case 'r':
            first = "\r";
            break;
        case 'x':
            first = "x";
            second = "FEATURES";
            break;
        default:
            break;
        }
        const bool got =
            first.empty() ? read_line(reader, line) : tq5::read_until(reader, line, first, second);
        const bool wanted = first.empty() ? reference.read(expected)
                                          : reference.read_until(expected, first, second);
        if (got != wanted || line.view() != expected || reader.at_end != reference.at_end) {
            return "plan " + std::string(plan) + ", call " + std::to_string(call) + ": got \"" +
                   std::string(line.view()) + "\" " + (got ? "true" : "false") + ", expected \"" +
                   expected + "\" " + (wanted ? "true" : "false");
        }
        if (reference.at_end) return {};
    }
    return "plan " + std::string(plan) + ": the reader does not reach the end";
}

// The first difference of any of the reading plans, or "".
inline std::string first_difference(std::string_view input, std::size_t block_size,
                                    std::size_t most_per_read = 0) {
    for (const std::string_view plan : reading_plans) {
        std::string difference = plan_difference(input, plan, block_size, most_per_read);
        if (!difference.empty()) return difference;
    }
    return {};
}

} // namespace tq5::testing
