// The line reader over small blocks and short reads: lines, CR LF pairs,
// NULs, byte 26 and the texts that read_until looks for fall across block
// boundaries, and every result must be that of the byte-by-byte reading.
#include "support/reference_reader.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using tq5::testing::first_difference;

// The reader's least block holds two pieces and their line feeds: 402 bytes.
constexpr std::size_t least_block = 2 * (tq5::line_piece_limit + 1);

constexpr std::size_t short_reads[] = {0, 1, 5};
constexpr std::size_t piece_sizes[] = {199, 200, 201, 399, 400, 401};
constexpr std::size_t last_line_sizes[] = {0, 1, 199, 200, 201, 399, 400, 401};

// Every block size from the least up to 300 more, so that each block
// boundary lands on each byte of the input; then reads of 1 or 7 bytes,
// which move the boundary a byte or a few at a time whatever the block.
void expect_same_everywhere(const std::string& input) {
    for (std::size_t block = least_block; block < least_block + 300; ++block)
        ASSERT_EQ(first_difference(input, block), "") << "block " << block;
    for (const std::size_t most : {std::size_t{1}, std::size_t{7}}) {
        for (const std::size_t block : {least_block, least_block + 1, least_block + 199})
            ASSERT_EQ(first_difference(input, block, most), "")
                << "block " << block << ", reads of " << most;
    }
    ASSERT_EQ(first_difference(input, tq5::default_block_size), "");
}

std::string repeat(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

// Sequence lines that hold none of the texts, so that what matters sits at
// every offset from a block boundary.
std::string filler(std::size_t lines) {
    return repeat("        1 acgtacgtac gtacgtacgt acgtacgtac gtacgtacgt\n", lines);
}

// What the reader gives for `input` in blocks of `block` bytes: the lines of
// read_until(first, second) until it fails, then that failing read.
std::vector<std::string> found_lines(const std::string& input, std::string_view first,
                                     std::string_view second = {},
                                     std::size_t block = least_block) {
    tq5::testing::memory_source source{input, 0, 0};
    tq5::line_reader reader;
    tq5::start_reading(reader, {tq5::testing::read_memory, &source}, {}, block);
    tq5::text_line line;
    std::vector<std::string> lines;
    while (tq5::read_until(reader, line, first, second))
        lines.emplace_back(line.view());
    lines.push_back("end:" + std::string(line.view()));
    return lines;
}

using lines = std::vector<std::string>;

TEST(LineReaderBlocks, WhatReadUntilFinds) {
    // CR LF is a line end, a lone CR is a character, the text ends at a NUL.
    EXPECT_EQ(found_lines(filler(9) + "ORIGIN\r\nxORIGIN\ry\n  CD\0S  ORIGIN\n"s, "ORIGIN"),
              lines({"ORIGIN", "xORIGIN\ry", "end:"}));
    EXPECT_EQ(found_lines(filler(9) + "ab\0ORIGIN\n  CDS  \n"s, "ORIGIN", "  CDS  "),
              lines({"  CDS  ", "end:"}));
    // A text cut by the 200-character piece boundary is in neither piece.
    const std::string cut = repeat(".", 197) + "ORIGIN\n";
    const std::string whole = repeat(".", 194) + "ORIGIN\n" + repeat(".", 200) + "ORIGIN\n";
    EXPECT_EQ(found_lines(filler(8) + cut + whole, "ORIGIN"),
              lines({repeat(".", 194) + "ORIGIN", "ORIGIN", "end:"}));
    // The last line without a line feed is not examined ...
    EXPECT_EQ(found_lines(filler(9) + "FEATURES", "FEATURES"), lines({"end:FEATURES"}));
    // ... unless its pieces are complete, but not after byte 26.
    const std::string full = "FEATURES" + repeat(".", 192);
    EXPECT_EQ(found_lines(filler(9) + full, "FEATURES"), lines({full, "end:"}));
    const std::string ctrl_z(1, '\x1a');
    EXPECT_EQ(found_lines(filler(9) + ctrl_z + "FEATURES\n", "FEATURES"), lines({"end:"}));
}

TEST(LineReaderBlocks, LineEndsNulsAndByteTwentySix) {
    expect_same_everywhere(filler(8) + "FEATURES\r\n" + "x\ry\r\r\n" + filler(1) +
                           "     CDS  \r   1..2\r\n" + "\r\n\r\r\n" + "ORIGIN\r" + "\r\n");
    expect_same_everywhere(filler(8) + "xx\0FEATURES\n"s + "FEATURES\0\n"s + filler(2) +
                           "\0  CDS  \n"s + "  CD\0S  \n"s + "ORIG\0IN ORIGIN\n"s + "  CDS  \n");
    expect_same_everywhere(filler(9) + "FEATURES\n" + "  CDS  \x1a  CDS  \nORIGIN\n");
    expect_same_everywhere(filler(9) + "\r\x1a\nFEATURES\n");
    expect_same_everywhere("\x1a  CDS  \n");
}

TEST(LineReaderBlocks, TextsSoughtAcrossBlockBoundaries) {
    expect_same_everywhere(filler(9) + "FEATURES             Location/Qualifiers\n" + filler(3) +
                           "     CDS             1..10\n" + filler(4) + "ORIGIN\n" + filler(2) +
                           "//\n");
}

// Each search starts behind the line found before; here the next text is
// every distance from 1 to a few hundred bytes away, at the start of a
// line or within it, so that no start position of the block search is
// left out.
TEST(LineReaderBlocks, TextsAtEveryDistance) {
    std::string input;
    for (std::size_t n = 0; n < 300; ++n) {
        input += repeat("-", n % 150) + "\n" + repeat("=", n % 7) + (n % 3 == 0 ? "ORIGIN" : "x");
        input +=
            repeat(" ", n % 5) + "  CDS  " + repeat("+", n % 11) + (n % 2 != 0 ? "\r\n" : "\n");
    }
    for (const std::size_t block : {least_block, least_block + 17, tq5::default_block_size}) {
        for (const std::size_t most : short_reads) {
            ASSERT_EQ(first_difference(input, block, most), "")
                << "block " << block << ", reads of " << most;
        }
    }
}

TEST(LineReaderBlocks, LinesAroundThePieceLimit) {
    std::string input = filler(6);
    for (const std::size_t size : piece_sizes) {
        input += repeat("a", size) + "\n" + repeat("b", size) + "\r\n";
        input += repeat("c", size - 1) + "\r\r\n" + "  CDS  " + repeat("d", size) + "\n";
    }
    expect_same_everywhere(input);
}

TEST(LineReaderBlocks, TextsAcrossThePieceBoundary) {
    std::string input = filler(7);
    for (std::size_t at = 190; at <= 202; ++at)
        input += repeat(".", at) + "ORIGIN" + repeat(".", 10) + "\n";
    input += repeat(".", 395) + "  CDS  \n" + "FEATURES" + repeat(".", 600) + "FEATURES\n";
    expect_same_everywhere(input);
}

TEST(LineReaderBlocks, LastLineWithoutLineFeed) {
    for (const std::size_t size : last_line_sizes) {
        SCOPED_TRACE(size);
        expect_same_everywhere(filler(8) + "FEATURES\n" + repeat("x", size));
        expect_same_everywhere(filler(8) + "  CDS  " + repeat("x", size));
    }
}

TEST(LineReaderBlocks, LineLongerThanTheBlock) {
    expect_same_everywhere(filler(3) + repeat("acgt", 700) + "  CDS  " + repeat("acgt", 300) +
                           "\n  CDS  \n" + repeat("FEATURES", 200) + "\n");
}

// Many short inputs made of the bytes and texts that matter, in every order.
TEST(LineReaderBlocks, GeneratedInputs) {
    const std::vector<std::string> fragments = {"\n",
                                                "\r",
                                                "\r\n",
                                                "\0"s,
                                                " ",
                                                "x",
                                                "  CDS  ",
                                                "ORIGIN",
                                                "FEATURES",
                                                "ORIG",
                                                "  C",
                                                "DS  ",
                                                "acgtacgtac gtacgtacgt ",
                                                std::string(97, 'a'),
                                                std::string(199, 'b'),
                                                std::string(200, 'c')};
    std::mt19937 generator(20261207);
    std::uniform_int_distribution<std::size_t> pick(0, fragments.size() - 1);
    std::uniform_int_distribution<std::size_t> length(1, 60);
    for (int round = 0; round < 200; ++round) {
        std::string input;
        for (std::size_t n = length(generator); n > 0; --n)
            input += fragments[pick(generator)];
        if (round % 10 == 0) input = input.substr(0, input.size() / 2) + '\x1a' + input;
        for (std::size_t block = least_block; block < least_block + 24; ++block) {
            ASSERT_EQ(first_difference(input, block), "")
                << "round " << round << ", block " << block;
        }
        for (const std::size_t most : {std::size_t{1}, std::size_t{5}}) {
            ASSERT_EQ(first_difference(input, least_block, most), "")
                << "round " << round << ", reads of " << most;
        }
    }
}

// The program flushes its output in before_fill: no request to the source
// may come without it, whether read_line or read_until asks.
TEST(LineReaderBlocks, BeforeFillPrecedesEveryRequest) {
    struct counting {
        tq5::testing::memory_source memory;
        int hooks = 0;
        int unannounced = 0;
    };
    const std::string input = filler(40) + "FEATURES\n" + filler(30) + "  CDS  \n" + filler(50);
    for (const std::size_t most : short_reads) {
        counting c{{input, 0, most}};
        auto read = [](void* context, char* buffer, std::size_t capacity) {
            auto& self = *static_cast<counting*>(context);
            if (self.hooks != self.memory.reads + 1) ++self.unannounced;
            return tq5::testing::read_memory(&self.memory, buffer, capacity);
        };
        auto hook = [](void* context) { ++static_cast<counting*>(context)->hooks; };
        tq5::line_reader reader;
        tq5::start_reading(reader, {read, &c}, {hook, nullptr, &c}, least_block);
        tq5::text_line line;
        ASSERT_TRUE(tq5::read_until(reader, line, "FEATURES"));
        ASSERT_FALSE(tq5::read_line(reader, line));
        ASSERT_TRUE(tq5::read_until(reader, line, "ORIGIN", "  CDS  "));
        ASSERT_FALSE(tq5::read_until(reader, line, "ORIGIN"));
        EXPECT_GT(c.memory.reads, 10);
        EXPECT_EQ(c.unannounced, 0) << "reads of " << most;
        EXPECT_EQ(c.hooks, c.memory.reads) << "reads of " << most;
    }
}

} // namespace
