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

// The reader's least block holds two pieces and their CR LF: 402 bytes.
constexpr std::size_t least_block = 2 * (tq5::line_piece_limit + 1);

constexpr std::size_t read_limits[] = {0, 1, 7, 64};

// Every block size from the least up to a few hundred more, and reads of
// 1, 7 and 64 bytes or whole blocks: each boundary lands on each byte.
void expect_same_everywhere(const std::string& input) {
    for (std::size_t block = least_block; block < least_block + 420; ++block) {
        for (const std::size_t most : read_limits) {
            const std::string difference = first_difference(input, block, most);
            ASSERT_EQ(difference, "") << "block " << block << ", reads of " << most;
        }
    }
    ASSERT_EQ(first_difference(input, tq5::default_block_size), "");
}

std::string repeat(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

// Filler lines that hold none of the texts, so that what matters sits at
// every offset from a block boundary.
std::string filler(std::size_t lines) {
    return repeat("        1 acgtacgtac gtacgtacgt acgtacgtac gtacgtacgt\n", lines);
}

TEST(LineReaderBlocks, TextsSoughtAcrossBlockBoundaries) {
    expect_same_everywhere(filler(9) + "FEATURES             Location/Qualifiers\n" + filler(3) +
                           "     CDS             1..10\n" + filler(4) + "ORIGIN\n" + filler(2) +
                           "//\n");
}

TEST(LineReaderBlocks, CrLfPairsAndLoneCarriageReturns) {
    expect_same_everywhere(filler(8) + "FEATURES\r\n" + "x\ry\r\r\n" + filler(1) +
                           "     CDS  \r   1..2\r\n" + "\r\n\r\r\n" + repeat("a", 199) + "\r\n" +
                           repeat("b", 200) + "\r\n" + "ORIGIN\r" + "\r\n");
}

TEST(LineReaderBlocks, TextsBehindANulAreNotFound) {
    expect_same_everywhere(filler(8) + "xx\0FEATURES\n"s + "FEATURES\0\n"s + filler(2) +
                           "\0  CDS  \n"s + "  CD\0S  \n"s + "ORIG\0IN ORIGIN\n"s + "  CDS  \n");
}

TEST(LineReaderBlocks, PiecesOf200AroundTheTexts) {
    // A text cut by the 200-character boundary is not found, one just
    // before or just after it is.
    const std::string origin = "ORIGIN";
    std::string input = filler(7);
    for (std::size_t at = 190; at <= 202; ++at)
        input += repeat(".", at) + origin + repeat(".", 10) + "\n";
    input += repeat("-", 200) + "\n" + repeat("-", 400) + "\n" + repeat("-", 401) + "\n";
    input += repeat(".", 395) + "  CDS  \n" + "FEATURES" + repeat(".", 600) + "FEATURES\n";
    expect_same_everywhere(input);
}

constexpr std::size_t last_line_sizes[] = {0, 1, 199, 200, 201, 399, 400, 401};

TEST(LineReaderBlocks, LastLineWithoutLineFeed) {
    for (const std::size_t size : last_line_sizes) {
        SCOPED_TRACE(size);
        expect_same_everywhere(filler(8) + "FEATURES\n" + repeat("x", size));
        expect_same_everywhere(filler(8) + "  CDS  " + repeat("x", size));
    }
}

TEST(LineReaderBlocks, ByteTwentySixEndsTheData) {
    expect_same_everywhere(filler(9) + "FEATURES\n" + "  CDS  \x1a  CDS  \nORIGIN\n");
    expect_same_everywhere(filler(9) + "\r\x1a\nFEATURES\n");
    expect_same_everywhere("\x1a  CDS  \n");
}

TEST(LineReaderBlocks, LineLongerThanTheBlock) {
    expect_same_everywhere(filler(3) + repeat("acgt", 700) + "  CDS  " + repeat("acgt", 300) +
                           "\n  CDS  \n" + repeat("FEATURES", 200) + "\n");
}

constexpr std::size_t short_read_limits[] = {0, 1, 5};

// Many short inputs from the bytes and texts that matter, in every order.
TEST(LineReaderBlocks, GeneratedInputs) {
    const std::vector<std::string> parts = {"\n",
                                            "\r",
                                            "\r\n",
                                            "\0"s,
                                            "\x1a",
                                            " ",
                                            "  CDS  ",
                                            "ORIGIN",
                                            "FEATURES",
                                            "CDS",
                                            "ORIG",
                                            "  C",
                                            "DS  ",
                                            "acgtacgtac gtacgtacgt ",
                                            std::string(97, 'a'),
                                            std::string(199, 'b'),
                                            std::string(200, 'c')};
    std::mt19937 generator(20261207);
    std::uniform_int_distribution<std::size_t> pick(0, parts.size() - 1);
    std::uniform_int_distribution<std::size_t> length(1, 60);
    for (int round = 0; round < 300; ++round) {
        std::string input;
        for (std::size_t n = length(generator); n > 0; --n)
            input += parts[pick(generator)];
        for (const std::size_t block : {least_block, least_block + 1, least_block + 97}) {
            for (const std::size_t most : short_read_limits) {
                ASSERT_EQ(first_difference(input, block, most), "")
                    << "round " << round << ", block " << block << ", reads of " << most;
            }
        }
    }
}

} // namespace
