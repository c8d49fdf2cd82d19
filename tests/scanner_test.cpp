// The scanner's rules, in process: what the record file holds for a given
// feature table.
#include "support/memory_io.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using tq5::testing::cds_record;
using tq5::testing::extract;

const std::string header =
    "LOCUS       T1   1000 bp    DNA\nFEATURES             Location/Qualifiers\n";
const std::string tail = "BASE COUNT    1 a\nORIGIN\n        1 acgt\n//\n";

std::string record_of(std::string_view features) {
    return header + std::string(features) + tail;
}

std::string records(std::initializer_list<std::pair<std::string, std::string>> cds,
                    long contig = 1) {
    std::string out;
    for (const auto& [location, name] : cds)
        out += cds_record(location, name, "in.gb", contig);
    return out;
}

TEST(LocationFragment, StartsAtTheFirstLocationCharacter) {
    EXPECT_EQ(tq5::location_fragment("     CDS             complement(join(1..2,"),
              "complement(join(1..2,");
    EXPECT_EQ(tq5::location_fragment("     CDS             order(1..2,5..9)"), "(1..2,5..9)");
    EXPECT_EQ(tq5::location_fragment("     CDS             <1..>90"), "<1..>90");
    EXPECT_EQ(tq5::location_fragment("                     join(x)"), "join(x)");
    EXPECT_EQ(tq5::location_fragment("   ABCDEF  "), "");
    EXPECT_EQ(tq5::location_fragment(""), "");
}

TEST(NamingValueStart, QualifierOrderAndPosition) {
    // The value starts one character after the qualifier text.
    EXPECT_EQ(tq5::naming_value_start("  /gene=\"abc\""), 8U);
    EXPECT_EQ(tq5::naming_value_start("  /product=\"x\" /gene=\"y\""), 21U);
    EXPECT_EQ(tq5::naming_value_start("/locus_tag=a /label=b"), 20U);
    EXPECT_EQ(tq5::naming_value_start("/gene"), 6U);
    EXPECT_EQ(tq5::naming_value_start("/note=\"gene\" /codon_start=1"), std::string_view::npos);
    EXPECT_EQ(tq5::naming_value_start("/Gene=\"x\""), std::string_view::npos);
}

TEST(Scanner, WorkedExampleOfThreeCdsFeatures) {
    const std::string input = record_of("     gene            10..300\n"
                                        "                     /gene=\"abcA\"\n"
                                        "     CDS             10..300\n"
                                        "                     /gene=\"abcA\"\n"
                                        "                     /codon_start=1\n"
                                        "                     /product=\"ABC protein\"\n"
                                        "     CDS             complement(join(400..500,\n"
                                        "                     600..700))\n"
                                        "                     /note=\"no name here\"\n"
                                        "                     /product=\"hypothetical protein\"\n"
                                        "     CDS             order(800..900,950..1000)\n"
                                        "                     /codon_start=1\n");
    const auto result = extract(input, "sample.gb");
    EXPECT_EQ(result.record, cds_record("10..300", "abcA", "sample.gb", 1) +
                                 cds_record("complement(join(400..500,600..700))",
                                            "hypothetical protein", "sample.gb", 1) +
                                 cds_record("(800..900,950..1000)", "unknown1", "sample.gb", 1));
    EXPECT_EQ(result.console, "CDS 1  CDS 2  CDS 3  ");
}

TEST(Scanner, InputsWithoutCdsOrFeaturesWriteNothing) {
    EXPECT_EQ(extract(record_of("     gene   1..9\n                     /gene=\"a\"\n")).record,
              "");
    const auto none = extract("LOCUS x\n     CDS             1..9\n    /gene=\"a\"\nORIGIN\n");
    EXPECT_EQ(none.record, "");
    EXPECT_EQ(none.console, "");
    EXPECT_EQ(none.state.running, 0);
}

TEST(Scanner, NameIsTheRestOfTheFirstNamingLineWithoutQuotes) {
    const auto result =
        extract(record_of("     CDS             1..9\n"
                          "                     /product=\"big \"x\" protein\" more\n"
                          "                     /gene=\"late\"\n"
                          "     CDS             20..29\n"
                          "                     /gene_synonym=\"alias\"\n"
                          "     CDS             30..39\n"
                          "                     /locus_tag=\"T_0001\"\n"
                          "     CDS             40..49\n"
                          "                     /label=lab\n"));
    EXPECT_EQ(result.record, records({{"1..9", "big x protein more"},
                                      {"20..29", "synonym=alias"},
                                      {"30..39", "T_0001"},
                                      {"40..49", "lab"}}));
}

TEST(Scanner, QualifierTextAtTheEndOfALineGivesAnEmptyName) {
    const std::string cut = std::string(195, ' ') + "/gene" + "=\"after the cut\"\n";
    const auto result = extract(record_of("     CDS             1..9\n" + cut +
                                          "     CDS             20..29\n"
                                          "                     /gene=\"b\"\n"));
    EXPECT_EQ(result.record, records({{"1..9", ""}, {"20..29", "b"}}));
}

TEST(Scanner, UnnamedCdsBeforeTheNextCdsIsUnknownAndTheLineIsReused) {
    const auto result = extract(record_of("     CDS             1..9\n"
                                          "                     /codon_start=1\n"
                                          "     CDS             20..29\n"
                                          "                     /gene=\"b\"\n"
                                          "     CDS             30..39\n"
                                          "                     /note=\"x\"\n"
                                          "     CDS             40..49\n"
                                          "                     /note=\"y\"\n"));
    // The last one is named at the BASE COUNT line.
    EXPECT_EQ(result.record, records({{"1..9", "unknown1"},
                                      {"20..29", "b"},
                                      {"30..39", "unknown2"},
                                      {"40..49", "unknown3"}}));
    EXPECT_EQ(result.console, "CDS 1  CDS 2  CDS 3  CDS 4  ");
}

TEST(Scanner, NameScanRunsPastOtherFeatures) {
    const auto result = extract(record_of("     CDS             1..9\n"
                                          "                     /codon_start=1\n"
                                          "     gene            20..29\n"
                                          "                     /gene=\"next\"\n"
                                          "     CDS             20..29\n"
                                          "                     /gene=\"next\"\n"));
    EXPECT_EQ(result.record, records({{"1..9", "next"}, {"20..29", "next"}}));
}

TEST(Scanner, CdsLineWithoutQualifierTakesTheNextLocationIn) {
    const auto result = extract(record_of("     CDS             1..90\n"
                                          "     CDS             100..190\n"
                                          "                     /gene=\"b\"\n"));
    EXPECT_EQ(result.record, records({{"1..90100..190", "b"}}));
}

TEST(Scanner, NamingLineThatHoldsACdsTextGivesTwoNameLines) {
    const auto result = extract(record_of("     CDS             1..9\n"
                                          "                     /gene=\"a\"     CDS  5..6\n"
                                          "                     /gene=\"c\"\n"
                                          "     CDS             10..19\n"
                                          "                     /product=\"p\" BASE COUNT\n"));
    // The first naming line is taken up again as the next CDS line.
    EXPECT_EQ(result.record,
              "#CDS=1..9\n#gene=a     CDS  5..6\n#gene=unknown1\n#file=in.gb\n#contig=1\n"
              "********************\n" +
                  cds_record("5..6", "c", "in.gb", 1) +
                  "#CDS=10..19\n#gene=p BASE COUNT\n#gene=unknown2\n#file=in.gb\n#contig=1\n"
                  "********************\n");
}

TEST(Scanner, RecordNumberCountsOriginLines) {
    const std::string second = "LOCUS       T2\nFEATURES\n     CDS             5..8\n"
                               "                     /gene=\"two\"\n" +
                               tail;
    const auto result =
        extract(record_of("     CDS             1..4\n                     /gene=\"one\"\n") +
                second + second);
    EXPECT_EQ(result.record, cds_record("1..4", "one", "in.gb", 1) +
                                 cds_record("5..8", "two", "in.gb", 2) +
                                 cds_record("5..8", "two", "in.gb", 3));
}

TEST(Scanner, FeaturesLineAfterOriginIsTestedForCdsButTheFirstIsNot) {
    const auto result = extract("FEATURES  CDS  1..2\n /gene=a\n  CDS  3..4\n /gene=b\n"
                                "ORIGIN\nFEATURES  CDS  5..6\n /gene=c\n");
    EXPECT_EQ(result.record,
              cds_record("3..4", "b", "in.gb", 1) + cds_record("5..6", "c", "in.gb", 2));
}

TEST(Scanner, UnnamedLastCdsGetsItsNameAtBaseCount) {
    const std::string second = "LOCUS       T2\nFEATURES\n     CDS             5..8\n"
                               "                     /gene=\"two\"\n" +
                               tail;
    const auto result = extract(
        record_of("     CDS             1..4\n                     /codon_start=1\n") + second);
    EXPECT_EQ(result.record,
              cds_record("1..4", "unknown1", "in.gb", 1) + cds_record("5..8", "two", "in.gb", 2));
}

TEST(Scanner, WithoutBaseCountTheNameScanRunsIntoTheNextRecord) {
    const std::string first = "LOCUS A\nFEATURES\n     CDS             1..4\n"
                              "                     /codon_start=1\nORIGIN\n        1 acgt\n//\n";
    const std::string second = "LOCUS B\nFEATURES\n     gene            5..8\n"
                               "                     /gene=\"b1\"\n     CDS             5..8\n"
                               "                     /gene=\"b1\"\nORIGIN\n        1 acgt\n//\n";
    const auto result = extract(first + second);
    // The ORIGIN line passed by the name scan is not counted.
    EXPECT_EQ(result.record,
              cds_record("1..4", "b1", "in.gb", 1) + cds_record("5..8", "b1", "in.gb", 1));
}

TEST(Scanner, FirstRecordWithoutFeaturesIsNotCounted) {
    const std::string first = "LOCUS A\nORIGIN\n        1 acgt\n//\n";
    const auto result =
        extract(first + record_of("     CDS             1..4\n                     /gene=\"x\"\n"));
    EXPECT_EQ(result.record, cds_record("1..4", "x", "in.gb", 1));
}

TEST(Scanner, OriginInsideANoteEndsTheRecordsFeatures) {
    const auto result =
        extract(record_of("     CDS             1..4\n"
                          "                     /gene=\"a\"\n"
                          "                     /note=\"see ORIGIN of replication\"\n"
                          "     CDS             5..8\n"
                          "                     /gene=\"lost\"\n") +
                "LOCUS B\nFEATURES\n     CDS             9..12\n"
                "                     /gene=\"c\"\n" +
                tail);
    EXPECT_EQ(result.record,
              cds_record("1..4", "a", "in.gb", 1) + cds_record("9..12", "c", "in.gb", 2));
}

TEST(Scanner, CtrlZEndsTheInput) {
    const auto result = extract(record_of("     CDS             1..4\n"
                                          "                     /gene=\"a\"\n"
                                          "     CDS             5..8\n"
                                          "                     /gene=\"b\"\x1a\n"
                                          "     CDS             9..12\n"
                                          "                     /gene=\"c\"\n"));
    EXPECT_EQ(result.record,
              cds_record("1..4", "a", "in.gb", 1) + cds_record("5..8", "b", "in.gb", 1));
}

TEST(Scanner, LastLineWithoutLineFeed) {
    const std::string body =
        "FEATURES\n     CDS             1..4\n                     /note=\"x\"\n";
    // A last CDS line without its line feed is never scanned; the CDS before
    // it still gets its unknown name from that line.
    EXPECT_EQ(extract(body + "     CDS             5..8").record,
              cds_record("1..4", "unknown1", "in.gb", 1));
    // One of exactly 200 characters is read like a full line.
    std::string cds200 = "     CDS             5..8";
    cds200 += std::string(200 - cds200.size(), ' ');
    EXPECT_EQ(extract(body + cds200).record,
              cds_record("1..4", "unknown1", "in.gb", 1) +
                  cds_record("5..8" + std::string(200 - 25, ' '), "unknown2", "in.gb", 1));
}

TEST(Scanner, EndOfInputInsideARecordCompletesIt) {
    // Cut off right after a CDS line: the location ends, the name is unknown.
    const auto cut = extract("FEATURES\n     CDS             1..10\n");
    EXPECT_EQ(cut.record, cds_record("1..10", "unknown1", "in.gb", 1));
    EXPECT_EQ(cut.console, "CDS 1  ");
    // Cut off inside the location: the last line still counts.
    EXPECT_EQ(extract("FEATURES\n     CDS             join(1..10,\n    20..30)").record,
              cds_record("join(1..10,20..30)", "unknown1", "in.gb", 1));
    // Cut off on the qualifier line: it is still looked at for a name.
    EXPECT_EQ(extract("FEATURES\n     CDS             1..10\n     /gene=\"g\"").record,
              cds_record("1..10", "g", "in.gb", 1));
    // Cut off after a qualifier without a name.
    EXPECT_EQ(extract("FEATURES\n     CDS             1..10\n     /note=\"n\"\n   more").record,
              cds_record("1..10", "unknown1", "in.gb", 1));
}

TEST(Scanner, ContinuationWithoutLocationCharactersAddsNothing) {
    EXPECT_EQ(extract(record_of("     CDS             1..10\n   ..., ...\n /gene=\"a\"\n")).record,
              records({{"1..10", "a"}}));
}

TEST(Scanner, LinesAreExaminedInPiecesOf200) {
    // "  CDS  " cut across two pieces is not seen.  The CDS line below is
    // 201 characters long: its last nine arrives as a piece of its own and
    // is taken as a location continuation.
    const std::string split_cds = std::string(196, 'x') + "  CDS  1..2\n /gene=\"hidden\"\n";
    const std::string long_cds = "     CDS             1.." + std::string(200 - 23, '9') + "\n";
    const auto result =
        extract(record_of(split_cds + long_cds + "                     /gene=\"g\"\n"));
    EXPECT_EQ(result.record, records({{"1.." + std::string(177, '9'), "g"}}));
}

TEST(Scanner, CountersRunAcrossRecords) {
    const std::string unnamed = "LOCUS\nFEATURES\n     CDS             1..4\n /note=\"n\"\n" + tail;
    const auto result = extract(unnamed + unnamed + unnamed);
    EXPECT_EQ(result.record, cds_record("1..4", "unknown1", "in.gb", 1) +
                                 cds_record("1..4", "unknown2", "in.gb", 2) +
                                 cds_record("1..4", "unknown3", "in.gb", 3));
    EXPECT_EQ(result.state.cds_count, 3);
    EXPECT_EQ(result.state.unknown_count, 4);
}

} // namespace
