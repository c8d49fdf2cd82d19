// Extraction runs of the real binary: the record file and the progress line.
#include "support/memory_io.hpp"
#include "support/run_tq5.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace tq5::testing;
namespace fs = std::filesystem;

std::string dialogue(std::string_view input_name, std::string_view output_name) {
    return screen_clear() + banner() + input_question() + output_question() +
           menu(input_name, output_name);
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

const std::string worked_example =
    "LOCUS       SAMPLE1     1200 bp    DNA     linear   BCT 01-JAN-2026\n"
    "DEFINITION  Three CDS features.\n"
    "FEATURES             Location/Qualifiers\n"
    "     gene            10..300\n"
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
    "                     /codon_start=1\n"
    "BASE COUNT      300 a    300 c    300 g    300 t\n"
    "ORIGIN\n"
    "        1 acgtacgtac gtacgtacgt\n"
    "//\n";

TEST(Run, WorkedExampleByteForByte) {
    scratch_folder folder;
    folder.write("sample.gb", worked_example);
    const run_result run = run_tq5(folder, "sample.gb out g\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console,
              text(dialogue("sample.gb", "out.t5") + "CDS 1  CDS 2  CDS 3  " + done("out.t5")));
    EXPECT_EQ(folder.read("out.t5"), text("#CDS=10..300\n"
                                          "#gene=abcA\n"
                                          "#file=sample.gb\n"
                                          "#contig=1\n"
                                          "********************\n"
                                          "#CDS=complement(join(400..500,600..700))\n"
                                          "#gene=hypothetical protein\n"
                                          "#file=sample.gb\n"
                                          "#contig=1\n"
                                          "********************\n"
                                          "#CDS=(800..900,950..1000)\n"
                                          "#gene=unknown1\n"
                                          "#file=sample.gb\n"
                                          "#contig=1\n"
                                          "********************\n"));
}

TEST(Run, InputWithoutCdsLeavesAnEmptyFile) {
    scratch_folder folder;
    folder.write("none.gb", "LOCUS x\nFEATURES\n     gene  1..2\n  /gene=\"g\"\nORIGIN\n//\n");
    folder.write("nofeatures.gb", "LOCUS x\n     CDS             1..2\n /gene=\"g\"\n");
    for (const char* name : {"none.gb", "nofeatures.gb"}) {
        const run_result run = run_tq5(folder, std::string(name) + " " + name + " g");
        EXPECT_EQ(run.status, 0);
        const std::string output = std::string(name) + ".t5";
        EXPECT_EQ(run.console, text(dialogue(name, output) + done(output)));
        EXPECT_EQ(fs::file_size(folder / output), 0U);
    }
}

TEST(Run, InputNameIsWrittenAsTyped) {
    scratch_folder folder;
    fs::create_directory(folder / "data");
    folder.write("data/x.gb", worked_example);
    const run_result run = run_tq5(folder, "./data/x.gb out g\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(folder.read("out.t5").find(text("#file=./data/x.gb\n")), std::string::npos);
}

TEST(Run, CrLfInputGivesTheSameRecords) {
    std::string crlf;
    for (const char c : worked_example)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    scratch_folder folder;
    folder.write("lf.gb", worked_example);
    folder.write("crlf.gb", crlf);
    ASSERT_EQ(run_tq5(folder, "lf.gb lf g").status, 0);
    ASSERT_EQ(run_tq5(folder, "crlf.gb crlf g").status, 0);
    const std::string lf_records = folder.read("lf.t5");
    std::string expected = lf_records;
    for (std::size_t at = 0; (at = expected.find("#file=lf.gb", at)) != std::string::npos;)
        expected.replace(at, 11, "#file=crlf.gb");
    EXPECT_EQ(folder.read("crlf.t5"), expected);
}

// The shipped example: two records, locations over several lines, names
// from every kind of qualifier and one CDS without any.
TEST(Run, ShippedSampleFile) {
    scratch_folder folder;
    folder.write("sample.gb", slurp(fs::path(TQ5_SOURCE_DIR) / "examples" / "sample.gb"));
    const run_result run = run_tq5(folder, "sample.gb sample g\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, text(dialogue("sample.gb", "sample.t5") +
                                "CDS 1  CDS 2  CDS 3  CDS 4  CDS 5  CDS 6  " + done("sample.t5")));
    EXPECT_EQ(folder.read("sample.t5"),
              text(cds_record("20..640", "tqaA", "sample.gb", 1) +
                   cds_record("complement(join(700..900,1000..1290))", "TQ5_0002", "sample.gb", 1) +
                   cds_record("(1300..1350,1400..1500,1600..1700,1800..1850)", "marker1",
                              "sample.gb", 1) +
                   cds_record("2000..2300", "unknown1", "sample.gb", 1) +
                   cds_record("<1..>300", "tqbA", "sample.gb", 2) +
                   cds_record("join(400..500,600..800)", "hypothetical protein", "sample.gb", 2)));
}

// The binary and the library agree on real data, and every CDS line of those
// files gives one record.
TEST(Run, PublicGenBankFiles) {
    const fs::path shared(TQ5_SHARED_GENBANK);
    if (!fs::is_directory(shared)) GTEST_SKIP() << shared << " is not here";
    int files = 0;
    for (const auto& entry : fs::directory_iterator(shared)) {
        if (!entry.is_regular_file()) continue;
        ++files;
        const std::string input = slurp(entry.path());
        scratch_folder folder;
        folder.write("in.gb", input);
        const run_result run =
            run_tq5(folder, "in.gb out g\n", {.file_size_limit = {}, .timeout_seconds = 120});
        ASSERT_EQ(run.status, 0) << entry.path();
        const std::string records = folder.read("out.t5");

        std::size_t cds_lines = 0;
        std::istringstream lines(input);
        for (std::string line; std::getline(lines, line);)
            if (line.find("  CDS  ") != std::string::npos) ++cds_lines;
        std::size_t separators = 0;
        for (std::size_t at = 0;
             (at = records.find(text("********************\n"), at)) != std::string::npos; ++at)
            ++separators;
        EXPECT_EQ(separators, cds_lines) << entry.path();
        EXPECT_EQ(records, text(extract(input, "in.gb").record)) << entry.path();
    }
    EXPECT_GT(files, 0);
}

} // namespace
