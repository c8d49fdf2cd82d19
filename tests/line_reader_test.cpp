// The line reader's contract: the lines a file is cut into.
#include "support/memory_io.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tq5::testing::memory_source;

struct read_result {
    std::string text;
    bool at_end;
};

// Every read until the first one that meets the end, that one included.
std::vector<read_result> lines_of(std::string_view input) {
    memory_source source{input};
    tq5::line_reader reader;
    tq5::start_reading(reader, {tq5::testing::read_memory, &source});
    tq5::text_line line;
    std::vector<read_result> reads;
    for (int guard = 0; guard < 100000; ++guard) {
        const bool at_end = tq5::read_line(reader, line);
        reads.push_back({std::string(line.view()), at_end});
        if (at_end) break;
    }
    return reads;
}

std::vector<read_result> expect(std::initializer_list<read_result> reads) {
    return reads;
}

bool operator==(const read_result& a, const read_result& b) {
    return a.text == b.text && a.at_end == b.at_end;
}

void PrintTo(const read_result& r, std::ostream* os) {
    *os << "{\"" << r.text << "\"(" << r.text.size() << ")," << (r.at_end ? "end" : "more") << "}";
}

TEST(LineReader, LineFeedEndsALineAndTheEndIsMetByTheNextRead) {
    EXPECT_EQ(lines_of("ab\ncd\n"), expect({{"ab", false}, {"cd", false}, {"", true}}));
}

TEST(LineReader, LastLineWithoutLineFeedMeetsTheEnd) {
    EXPECT_EQ(lines_of("ab\ncd"), expect({{"ab", false}, {"cd", true}}));
    EXPECT_EQ(lines_of(""), expect({{"", true}}));
}

TEST(LineReader, CarriageReturnIsDroppedOnlyDirectlyBeforeALineFeed) {
    EXPECT_EQ(lines_of("a\r\nb\rc\n\r\r\nd\r"),
              expect({{"a", false}, {"b\rc", false}, {"\r", false}, {"d\r", true}}));
}

TEST(LineReader, CtrlZEndsTheData) {
    EXPECT_EQ(lines_of("ab\ncd\x1a"
                       "ef\ngh\n"),
              expect({{"ab", false}, {"cd", true}}));
    EXPECT_EQ(lines_of("ab\n\x1a"), expect({{"ab", false}, {"", true}}));
    EXPECT_EQ(lines_of("ab\r\x1a\n"), expect({{"ab\r", true}}));
}

TEST(LineReader, LongLinesArriveInPiecesOf200) {
    const std::string a(200, 'a'), b(200, 'b'), c(50, 'c');
    EXPECT_EQ(lines_of(a + b + c + "\nx\n"),
              expect({{a, false}, {b, false}, {c, false}, {"x", false}, {"", true}}));
    // Exactly 200: the line feed is left over and gives an empty line.
    EXPECT_EQ(lines_of(a + "\nx\n"), expect({{a, false}, {"", false}, {"x", false}, {"", true}}));
    // The CR of a CR LF pair does not count against the 200.
    EXPECT_EQ(lines_of(a + "\r\nx\n"), expect({{a, false}, {"", false}, {"x", false}, {"", true}}));
    const std::string n199(199, 'n');
    EXPECT_EQ(lines_of(n199 + "\r\nx"), expect({{n199, false}, {"x", true}}));
    // A lone CR does count.
    EXPECT_EQ(lines_of(n199 + "\r\r\n"), expect({{n199 + "\r", false}, {"", false}, {"", true}}));
}

TEST(LineReader, LastPieceOf200WithoutLineFeedIsReadLikeAFullLine) {
    const std::string a(200, 'a');
    EXPECT_EQ(lines_of(a), expect({{a, false}, {"", true}}));
    EXPECT_EQ(lines_of(a + a), expect({{a, false}, {a, false}, {"", true}}));
    EXPECT_EQ(lines_of(a + "b"), expect({{a, false}, {"b", true}}));
}

TEST(LineReader, NulEndsTheTextButNotThePiece) {
    using namespace std::string_literals;
    EXPECT_EQ(lines_of("ab\0cd\nef\n"s), expect({{"ab", false}, {"ef", false}, {"", true}}));
    // The NUL counts as a character of the 200.
    const std::string piece = "x\0"s + std::string(198, 'y');
    EXPECT_EQ(lines_of(piece + "zz\n"), expect({{"x", false}, {"zz", false}, {"", true}}));
}

TEST(LineReader, ReadsAfterTheEndStoreEmptyLines) {
    memory_source source{"abc"};
    tq5::line_reader reader;
    tq5::start_reading(reader, {tq5::testing::read_memory, &source});
    tq5::text_line line;
    EXPECT_TRUE(tq5::read_line(reader, line));
    EXPECT_EQ(line.view(), "abc");
    const int reads = source.reads;
    EXPECT_TRUE(tq5::read_line(reader, line));
    EXPECT_EQ(line.view(), "");
    EXPECT_EQ(source.reads, reads) << "no more requests to the source after the end";
}

TEST(LineReader, ReadUntilStopsAtTheFirstLineWithEitherText) {
    memory_source source{"one\ntwo ORIGIN\nthree  CDS  \nFEATURES"};
    tq5::line_reader reader;
    tq5::start_reading(reader, {tq5::testing::read_memory, &source});
    tq5::text_line line;
    ASSERT_TRUE(tq5::read_until(reader, line, "  CDS  ", "ORIGIN"));
    EXPECT_EQ(line.view(), "two ORIGIN");
    ASSERT_TRUE(tq5::read_until(reader, line, "  CDS  "));
    EXPECT_EQ(line.view(), "three  CDS  ");
    // The last line meets the end: it is not examined.
    EXPECT_FALSE(tq5::read_until(reader, line, "FEATURES"));
    EXPECT_TRUE(reader.at_end);
}

TEST(LineReader, ReadUntilDoesNotMatchAcrossPiecesOrAfterANul) {
    using namespace std::string_literals;
    const std::string split = std::string(196, '.') + "FEATURES\n"; // cut after "FEAT"
    const std::string hidden = "ab\0FEATURES\n"s;
    const std::string input = split + hidden + "FEATURES\nx\n";
    memory_source source{input};
    tq5::line_reader reader;
    tq5::start_reading(reader, {tq5::testing::read_memory, &source});
    tq5::text_line line;
    ASSERT_TRUE(tq5::read_until(reader, line, "FEATURES"));
    EXPECT_EQ(line.view(), "FEATURES");
    ASSERT_TRUE(tq5::read_line(reader, line) == false);
    EXPECT_EQ(line.view(), "x");
}

} // namespace
