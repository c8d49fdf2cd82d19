// Hostile input through the real binary: whatever the bytes of the GenBank
// file, the run ends within a time bound, without a crash, with the record
// file that the reading rule and the scanner's rules give.
#include "support/memory_io.hpp"
#include "support/run_tq5.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace {

using tq5::testing::cds_record;
using tq5::testing::run_options;
using tq5::testing::run_result;
using tq5::testing::scratch_folder;
using tq5::testing::text;
using namespace std::string_literals;

constexpr int time_bound_seconds = 120;

struct outcome {
    run_result run;
    std::string record;
};

// Runs the program on `input` as in.gb, answering in.gb, out and g.
outcome run_on(std::string_view input) {
    scratch_folder folder;
    folder.write("in.gb", input);
    run_options options;
    options.timeout_seconds = time_bound_seconds;
    outcome result{tq5::testing::run_tq5(folder, "in.gb out g\n", options), {}};
    result.record = folder.read("out.t5");
    return result;
}

std::string progress(int count) {
    std::string items;
    for (int n = 1; n <= count; ++n)
        items += "CDS " + std::to_string(n) + "  ";
    return items;
}

std::string console_of_run(int records) {
    using namespace tq5::testing;
    return text(screen_clear() + banner() + input_question() + output_question() +
                menu("in.gb", "out.t5") + progress(records) + done("out.t5"));
}

// A completed run: status 0, the console of a run with `records` progress
// items, and exactly `expected_record` in out.t5.
void expect_run(const outcome& result, const std::string& expected_record, int records) {
    EXPECT_EQ(result.run.signal, 0);
    EXPECT_EQ(result.run.status, 0);
    EXPECT_EQ(result.run.console, console_of_run(records));
    // Compared by size first: a mismatch of megabytes is not worth printing.
    ASSERT_EQ(result.record.size(), text(expected_record).size());
    EXPECT_TRUE(result.record == text(expected_record));
}

std::string record_of(std::string_view location, std::string_view name, long contig = 1) {
    return cds_record(location, name, "in.gb", contig);
}

const std::string header = "LOCUS       HOSTILE     1000 bp    DNA     linear\n"
                           "FEATURES             Location/Qualifiers\n";
const std::string record_end = "BASE COUNT      250 a    250 c    250 g    250 t\n"
                               "ORIGIN\n"
                               "        1 acgtacgtac gtacgtacgt\n"
                               "//\n";
const std::string named_cds = "     CDS             1..10\n"
                              "                     /gene=\"abc\"\n";

// Deterministic noise: every byte value, the same bytes on every run.
std::string noise(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xff);
    return bytes;
}

TEST(HostileInput, EmptyFile) {
    expect_run(run_on(""), "", 0);
}

TEST(HostileInput, OnlyNulBytes) {
    // Lines of 200 NULs: every line's text is empty.
    expect_run(run_on(std::string(100'000, '\0')), "", 0);
    expect_run(run_on(std::string(4'000, '\0') + "\n" + std::string(4'000, '\0')), "", 0);
}

TEST(HostileInput, NulEndsTheTextOfItsLine) {
    // Each of these texts stands behind a NUL and so is not seen: the first
    // "FEATURES" (the CDS before the second one is outside the table), a
    // "  CDS  ", a qualifier at the end of a location, and the end of a name.
    const std::string input = "LOCUS x\n\0FEATURES\n"s + "     CDS             1..9\n" +
                              "                     /gene=\"outside\"\n" + "FEATURES\n" +
                              "     x\0  CDS  2..3\n"s + "                     /gene=\"no cds\"\n" +
                              "     CDS             20..29\0/gene=\"hidden\"\n"s +
                              "                     /gene=\"seen\0hidden\"\n"s;
    expect_run(run_on(input), record_of("20..29", "seen"), 1);
}

TEST(HostileInput, CarriageReturnIsDroppedOnlyDirectlyBeforeALineFeed) {
    // CR CR LF keeps one carriage return, a lone one stays in its line.
    expect_run(run_on(header + "     CDS             1..9\r\r\n" +
                      "                     /gene=\"a\rb\"\r\n" + record_end),
               record_of("1..9\r", "a\rb"), 1);
}

TEST(HostileInput, OnlyCarriageReturns) {
    // No line feed at all: pieces of 200 carriage returns, then the rest.
    expect_run(run_on(std::string(100'003, '\r')), "", 0);
    // A file with carriage returns as its only line ends is a single line
    // too: shorter than 200 characters and without line feed, it is never
    // examined.
    expect_run(run_on("LOCUS x\rFEATURES\r     CDS             1..9\r"
                      "                     /gene=\"a\"\r"),
               "", 0);
}

TEST(HostileInput, FiftyMegabyteLineWithoutLineFeed) {
    // After the CDS line, one physical line of 50 MB without a line feed:
    //   pieces 0..999: "x" only, no "/": continuation lines without any
    //     location character, so the location stays 1..10;
    //   piece 1000: "xxx/gene=\"g1\"" and "y" up to 200 characters: it ends
    //     the location and names the CDS from character 9 to its end;
    //   a "  CDS  " split over two pieces is not found;
    //   the last piece, shorter than 200 and ended by the end of the input,
    //     holds a whole CDS text but is not examined.
    constexpr std::size_t fifty_mb = 50u * 1024 * 1024;
    std::string line(200 * 1000, 'x');
    const std::string qualifier = "xxx/gene=\"g1\"";
    line += qualifier + std::string(200 - qualifier.size(), 'y');
    const std::size_t split_at = 200 * 5000;
    line += std::string(split_at - 4 - line.size(), 'y') + "  CD" + "S  5..6";
    const std::string last_text = "  CDS  7..9";
    const std::size_t last_piece = 150;
    const std::size_t length = (fifty_mb / 200) * 200 + last_piece;
    line += std::string(length - last_text.size() - line.size(), 'y') + last_text;
    ASSERT_EQ(line.size() % 200, last_piece);

    const std::string input = header + "     CDS             1..10\n" + line;
    expect_run(run_on(input), record_of("1..10", "g1" + std::string(187, 'y')), 1);
}

TEST(HostileInput, CtrlZAsTheFirstByte) {
    expect_run(run_on("\x1a" + header + named_cds + record_end), "", 0);
}

TEST(HostileInput, BinaryNoiseAlone) {
    // The rules give an empty record file unless "FEATURES" stands before the
    // first byte 26; in these bytes it does not.  The first byte 26 comes
    // early in noise, so the same noise without any is read too, to its end.
    std::string bytes = noise(1u << 20, 0x7135'2024);
    ASSERT_EQ(bytes.substr(0, bytes.find('\x1a')).find("FEATURES"), std::string::npos);
    expect_run(run_on(bytes), "", 0);
    for (char& c : bytes)
        if (c == '\x1a') c = '\x1b';
    ASSERT_EQ(bytes.find("FEATURES"), std::string::npos);
    expect_run(run_on(bytes), "", 0);
}

TEST(HostileInput, FeatureTableBetweenNoise) {
    // Noise without byte 26 up to a feature table with one CDS, then noise
    // whose first byte 26 ends the input before a second CDS.
    std::string before = noise(300'000, 1);
    for (char& c : before)
        if (c == '\x1a') c = '\x1b';
    ASSERT_EQ(before.find("FEATURES"), std::string::npos);
    const std::string after = noise(300'000, 2);
    const std::string bytes_read = after.substr(0, after.find('\x1a'));
    ASSERT_LT(bytes_read.size(), after.size());
    // The search loop that follows the CDS sees only these bytes.
    ASSERT_EQ(bytes_read.find("ORIGIN"), std::string::npos);
    ASSERT_EQ(bytes_read.find("  CDS  "), std::string::npos);

    const std::string input =
        before + "\nFEATURES             Location/Qualifiers\n" +
        "     CDS             join(5..9,\n" + "                     12..20)\n" +
        "                     /gene=\"in noise\"\n" + after + "\n     CDS             30..40\n" +
        "                     /gene=\"never read\"\n";
    expect_run(run_on(input), record_of("join(5..9,12..20)", "in noise"), 1);
}

TEST(HostileInput, FeaturesAsTheLastLine) {
    // The first skip ends at the FEATURES line; the next read meets the end.
    expect_run(run_on("LOCUS x\nFEATURES             Location/Qualifiers\n"), "", 0);
    // Without its line feed the FEATURES line is the read that meets the end.
    expect_run(run_on("LOCUS x\nFEATURES             Location/Qualifiers"), "", 0);

    // After ORIGIN the FEATURES line that ends the skip is tested for a CDS:
    // with its line feed it is the CDS line of a record whose location ends
    // at the end of the input, named unknown1, in the second GenBank record.
    const std::string first = header + named_cds + record_end + "LOCUS       SECOND\n";
    expect_run(run_on(first + "FEATURES  CDS  5..8\n"),
               record_of("1..10", "abc") + record_of("5..8", "unknown1", 2), 2);
    // Without the line feed the skip's read meets the end: not examined.
    expect_run(run_on(first + "FEATURES  CDS  5..8"), record_of("1..10", "abc"), 1);
}

TEST(HostileInput, CdsLineAtTheVeryEnd) {
    const std::string cds_line = "     CDS             1..10";
    // With its line feed: the location continuation and the name scan meet
    // the end and the record is completed.
    expect_run(run_on(header + cds_line + "\n"), record_of("1..10", "unknown1"), 1);
    // Without it the line is the read that meets the end: never scanned.
    expect_run(run_on(header + cds_line), "", 0);
    // Also when the name scan of the CDS before it stopped on it.
    expect_run(run_on(header + "     CDS             20..30\n" +
                      "                     /codon_start=1\n" + cds_line),
               record_of("20..30", "unknown1"), 1);
}

TEST(HostileInput, CdsLineOf200CharactersAtTheVeryEnd) {
    // A last line of exactly 200 characters is read like one with a line
    // feed; the next read meets the end.
    const std::string location = "1.." + std::string(200 - 21 - 3, '9');
    const std::string cds_line = "     CDS             " + location;
    ASSERT_EQ(cds_line.size(), 200u);
    expect_run(run_on(header + cds_line), record_of(location, "unknown1"), 1);
}

TEST(HostileInput, LastLineWithoutLineFeedInsideARecord) {
    // The location continuation and the name scan examine the line whose
    // read meets the end.
    expect_run(
        run_on(header + "     CDS             join(1..10,\n" + "                     20..30)"),
        record_of("join(1..10,20..30)", "unknown1"), 1);
    expect_run(run_on(header + "     CDS             1..10\n" +
                      "                     /codon_start=1\n" +
                      "                     /gene=\"last\""),
               record_of("1..10", "last"), 1);
}

std::string cds_without_qualifiers(int count) {
    std::string lines;
    lines.reserve(static_cast<std::size_t>(count) * 40);
    for (int i = 0; i < count; ++i)
        lines += "     CDS             " + std::to_string(10 * i + 1) + ".." +
                 std::to_string(10 * i + 9) + "\n";
    return lines;
}

std::string joined_locations(int count) {
    std::string location;
    for (int i = 0; i < count; ++i)
        location += std::to_string(10 * i + 1) + ".." + std::to_string(10 * i + 9);
    return location;
}

TEST(HostileInput, HundredThousandCdsWithoutQualifiers) {
    // No line after the first CDS line holds a "/" until "//": every one is
    // a continuation of the first CDS's location, ORIGIN adds nothing (no
    // location character), the sequence line adds its text from its first
    // digit.  The name scan then meets the end: one record, unknown1.
    constexpr int count = 100'000;
    const std::string features = header + cds_without_qualifiers(count);
    expect_run(run_on(features + "ORIGIN\n" + "        1 acgtacgtac\n" + "//\n"),
               record_of(joined_locations(count) + "1 acgtacgtac", "unknown1"), 1);
    // Without any line with a "/" the location runs to the end of the input.
    expect_run(run_on(features), record_of(joined_locations(count), "unknown1"), 1);
}

} // namespace
