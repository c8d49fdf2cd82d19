// The set-up dialogue, end to end: the real binary, answers on standard
// input, the exact console bytes and the files left on disk.
#include "support/run_tq5.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace tq5::testing;

const std::string one_cds =
    "FEATURES\n     CDS             1..9\n                     /gene=\"a\"\n";
const std::string one_record = "#CDS=1..9\n#gene=a\n#file=in.gb\n#contig=1\n********************\n";

// The screen up to the first question.
std::string opening() {
    return screen_clear() + banner() + input_question();
}

class Dialogue : public ::testing::Test {
  protected:
    scratch_folder folder;
    void SetUp() override { folder.write("in.gb", one_cds); }
};

TEST_F(Dialogue, ThreeWordsOnOneLineRunTheProgram) {
    const run_result run = run_tq5(folder, "in.gb out g\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, text(opening() + output_question() + menu("in.gb", "out.t5") +
                                "CDS 1  " + done("out.t5")));
    EXPECT_EQ(folder.read("out.t5"), text(one_record));
}

TEST_F(Dialogue, LastAnswerWithoutLineFeedStillCounts) {
    const run_result run = run_tq5(folder, "in.gb\nout\ng");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(folder.read("out.t5"), text(one_record));
}

TEST_F(Dialogue, AnswersAreWordsSeparatedByAnyWhiteSpace) {
    const run_result run = run_tq5(folder, " \t\r\n in.gb\v\fout \r\n\tgo\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(folder.read("out.t5"), text(one_record));
}

TEST_F(Dialogue, MissingInputIsRefusedUntilAnExistingFileIsNamed) {
    // "q" at the file question is a name; only the C/Q question quits.
    const run_result run = run_tq5(folder, "q x Continue missing.gb c in.gb out g\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console,
              text(opening() + input_refused("q") + input_retry() + input_question() +
                   input_refused("missing.gb") + input_retry() + input_question() +
                   output_question() + menu("in.gb", "out.t5") + "CDS 1  " + done("out.t5")));
}

TEST_F(Dialogue, DirectoryIsNotAnInputFile) {
    std::filesystem::create_directory(folder / "dir.gb");
    const run_result run = run_tq5(folder, "dir.gb quit\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, text(opening() + input_refused("dir.gb") + halted()));
}

TEST_F(Dialogue, QuitAfterARefusedInputLeavesNoFile) {
    const run_result run = run_tq5(folder, "nothing Q\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, text(opening() + input_refused("nothing") + halted()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST_F(Dialogue, ExistingOutputIsRefusedAndAnotherNameAsked) {
    folder.write("out.t5", "keep me");
    const run_result run = run_tq5(folder, "in.gb out x new q g\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console,
              text(opening() + output_question() + output_refused("out.t5") + output_question() +
                   menu("in.gb", "q.t5") + "CDS 1  " + done("q.t5")))
        << "x is ignored, new (N) asks again, q is a file name";
    EXPECT_EQ(folder.read("out.t5"), "keep me");
    EXPECT_EQ(folder.read("q.t5"), text(one_record));
}

TEST_F(Dialogue, QuitAfterARefusedOutputKeepsTheEmptyFilesMadeSoFar) {
    folder.write("b.t5", "");
    const run_result run = run_tq5(folder, "in.gb a o b Quit\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, text(opening() + output_question() + menu("in.gb", "a.t5") +
                                output_question() + output_refused("b.t5") + halted()));
    EXPECT_TRUE(folder.exists("a.t5"));
    EXPECT_EQ(folder.read("a.t5"), "");
}

TEST_F(Dialogue, SuffixIsAlwaysAppended) {
    const run_result run = run_tq5(folder, "in.gb out.t5 g\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(folder.read("out.t5.t5"), text(one_record));
    EXPECT_FALSE(folder.exists("out.t5"));
}

TEST_F(Dialogue, MenuChangesEitherNameAndIgnoresOtherLetters) {
    folder.write("other.gb", "FEATURES\n     CDS             5..6\n /product=\"p\"\n");
    const run_result run = run_tq5(folder, "in.gb first x ? i other.gb O second G\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console,
              text(opening() + output_question() + menu("in.gb", "first.t5") + input_question() +
                   menu("other.gb", "first.t5") + output_question() +
                   menu("other.gb", "second.t5") + "CDS 1  " + done("second.t5")));
    EXPECT_EQ(folder.read("first.t5"), "") << "the first output file stays, empty";
    EXPECT_EQ(folder.read("second.t5"),
              text("#CDS=5..6\n#gene=p\n#file=other.gb\n#contig=1\n********************\n"));
}

TEST_F(Dialogue, ChoosingTheSameOutputAgainIsRefused) {
    const run_result run = run_tq5(folder, "in.gb out o out n out2 g\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console, text(opening() + output_question() + menu("in.gb", "out.t5") +
                                output_question() + output_refused("out.t5") + output_question() +
                                menu("in.gb", "out2.t5") + "CDS 1  " + done("out2.t5")));
}

TEST_F(Dialogue, QuitAtTheMenu) {
    const run_result run = run_tq5(folder, "in.gb out quit\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console,
              text(opening() + output_question() + menu("in.gb", "out.t5") + halted()));
    EXPECT_EQ(folder.read("out.t5"), "");
}

TEST_F(Dialogue, LongNamesAreTakenWhole) {
    const std::string input(120, 'i');
    const std::string output(150, 'o');
    folder.write(input, one_cds);
    const run_result run = run_tq5(folder, input + " " + output + " g\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(folder.read(output + ".t5"),
              text("#CDS=1..9\n#gene=a\n#file=" + input + "\n#contig=1\n********************\n"));
}

TEST_F(Dialogue, EndOfAnswersWhileAQuestionWaitsHaltsWithStatusOne) {
    struct cut {
        std::string answers;
        std::string screen;
    };
    const cut cuts[] = {
        {"", opening()},
        {"  \n", opening()},
        {"nothing", opening() + input_refused("nothing")},
        {"in.gb", opening() + output_question()},
        {"in.gb out", opening() + output_question() + menu("in.gb", "out.t5")},
        {"in.gb out x y", opening() + output_question() + menu("in.gb", "out.t5")},
        {"in.gb in.gb", opening() + output_question()},
    };
    for (const cut& c : cuts) {
        scratch_folder fresh;
        fresh.write("in.gb", one_cds);
        fresh.write("in.gb.t5", "");
        const run_result run =
            run_tq5(fresh, c.answers, {.file_size_limit = {}, .timeout_seconds = 20});
        EXPECT_EQ(run.status, 1) << c.answers;
        const std::string refused =
            c.answers == "in.gb in.gb" ? output_refused("in.gb.t5") : std::string();
        EXPECT_EQ(run.console, text(c.screen + refused + "\n" + halted())) << c.answers;
    }
}

} // namespace
