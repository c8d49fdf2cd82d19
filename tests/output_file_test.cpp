// The files of a run: what the program does when the names it tested in the
// dialogue have changed before the run, how it creates the record file, and
// how it ends when writing or reading fails.
#include "support/interactive_tq5.hpp"
#include "support/memory_io.hpp"
#include "support/run_tq5.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using tq5::testing::interactive_options;
using tq5::testing::interactive_tq5;
using tq5::testing::run_result;
using tq5::testing::scratch_folder;
using tq5::testing::text;

constexpr int time_bound_seconds = 30;

const std::string sample = "LOCUS       FILES        500 bp    DNA     linear\n"
                           "FEATURES             Location/Qualifiers\n"
                           "     CDS             10..90\n"
                           "                     /gene=\"fA\"\n"
                           "     CDS             complement(100..190)\n"
                           "                     /product=\"second\"\n"
                           "BASE COUNT      125 a    125 c    125 g    125 t\n"
                           "ORIGIN\n"
                           "        1 acgtacgtac\n"
                           "//\n";

std::string sample_records(std::string_view input_name) {
    return tq5::testing::cds_record("10..90", "fA", input_name, 1) +
           tq5::testing::cds_record("complement(100..190)", "second", input_name, 1);
}

// The console up to the menu prompt, for the answers `input` and `output`.
std::string up_to_menu(std::string_view input, std::string_view output) {
    using namespace tq5::testing;
    const std::string output_name = std::string(output) + ".t5";
    return text(screen_clear() + banner() + input_question() + output_question() +
                menu(input, output_name));
}

std::string problem_opening(std::string_view name) {
    return text("\aPROBLEM OPENING THE FILE " + std::string(name) + ".\n");
}

// The mode bits of a regular file, not followed through a link; -1 if the
// name is no regular file.
long regular_file_mode(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<long>(info.st_mode & 07777);
}

bool is_regular(const fs::path& path) {
    return regular_file_mode(path) >= 0;
}

interactive_options bounded() {
    interactive_options options;
    options.timeout_seconds = time_bound_seconds;
    return options;
}

#define SKIP_UNLESS_NATIVE()                                                                       \
    if (!tq5::testing::testing_native_binary()) GTEST_SKIP() << "needs the native Linux binary"

// Answers the file questions, waits for the menu, lets `change` alter the
// folder, then answers g.  The result of the run.
template <typename Change> run_result run_with_change(const scratch_folder& folder, Change change) {
    interactive_tq5 program(folder, bounded());
    EXPECT_TRUE(program.send("in.gb\nout\n"));
    const bool at_menu = program.wait_for(up_to_menu("in.gb", "out"));
    EXPECT_TRUE(at_menu) << program.console();
    if (at_menu) {
        // The dialogue has created the record file empty.
        EXPECT_TRUE(is_regular(folder / "out.t5"));
        EXPECT_EQ(fs::file_size(folder / "out.t5"), 0u);
        change();
    }
    program.send("g\n");
    return program.finish();
}

// The run refuses `out.t5` with the PROBLEM OPENING message and status 1.
void expect_output_refused(const run_result& result) {
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, up_to_menu("in.gb", "out") + problem_opening("out.t5"));
}

TEST(OutputFile, SymbolicLinkInPlaceOfTheRecordFileIsRefused) {
    SKIP_UNLESS_NATIVE();
    scratch_folder folder;
    scratch_folder elsewhere;
    folder.write("in.gb", sample);
    const std::string precious = "someone else's data\nnot to be truncated\n";
    elsewhere.write("victim.txt", precious);
    const fs::path target = elsewhere / "victim.txt";
    const run_result result = run_with_change(folder, [&] {
        fs::remove(folder / "out.t5");
        fs::create_symlink(target, folder / "out.t5");
    });
    expect_output_refused(result);
    EXPECT_EQ(elsewhere.read("victim.txt"), precious);
    EXPECT_TRUE(fs::is_symlink(folder / "out.t5"));
    EXPECT_EQ(fs::read_symlink(folder / "out.t5"), target);
}

// A second name of someone else's file, put in the record file's place.
TEST(OutputFile, HardLinkInPlaceOfTheRecordFileIsRefused) {
    scratch_folder folder;
    folder.write("in.gb", sample);
    const std::string precious = "someone else's data\nnot to be truncated\n";
    folder.write("victim.txt", precious);
    const run_result result = run_with_change(folder, [&] {
        fs::remove(folder / "out.t5");
        fs::create_hard_link(folder / "victim.txt", folder / "out.t5");
    });
    expect_output_refused(result);
    EXPECT_EQ(folder.read("victim.txt"), precious);
}

TEST(OutputFile, DanglingSymbolicLinkIsRefusedAndNothingIsCreated) {
    SKIP_UNLESS_NATIVE();
    scratch_folder folder;
    folder.write("in.gb", sample);
    const run_result result = run_with_change(folder, [&] {
        fs::remove(folder / "out.t5");
        fs::create_symlink("planted.txt", folder / "out.t5");
    });
    expect_output_refused(result);
    EXPECT_FALSE(folder.exists("planted.txt"));
}

TEST(OutputFile, DirectoryInPlaceOfTheRecordFileIsRefused) {
    scratch_folder folder;
    folder.write("in.gb", sample);
    const run_result result = run_with_change(folder, [&] {
        fs::remove(folder / "out.t5");
        fs::create_directory(folder / "out.t5");
    });
    expect_output_refused(result);
    EXPECT_TRUE(fs::is_directory(folder / "out.t5"));
    EXPECT_TRUE(fs::is_empty(folder / "out.t5"));
}

TEST(OutputFile, FifoInPlaceOfTheRecordFileIsRefusedWithoutWaiting) {
    SKIP_UNLESS_NATIVE();
    scratch_folder folder;
    folder.write("in.gb", sample);
    // Nobody opens the FIFO for reading: an open that waited for a reader
    // would never return, and finish() would report the time bound.
    const run_result result = run_with_change(folder, [&] {
        fs::remove(folder / "out.t5");
        ASSERT_EQ(::mkfifo((folder / "out.t5").c_str(), 0600), 0);
    });
    expect_output_refused(result);
    EXPECT_TRUE(fs::is_fifo(folder / "out.t5"));
}

TEST(OutputFile, FifoWithAReaderInPlaceOfTheRecordFileIsRefused) {
    SKIP_UNLESS_NATIVE();
    scratch_folder folder;
    folder.write("in.gb", sample);
    // With a reader on the FIFO the program's open succeeds; the file must
    // still be refused, and the reader gets nothing.
    int reader = -1;
    const run_result result = run_with_change(folder, [&] {
        fs::remove(folder / "out.t5");
        ASSERT_EQ(::mkfifo((folder / "out.t5").c_str(), 0600), 0);
        reader = ::open((folder / "out.t5").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
    });
    expect_output_refused(result);
    ASSERT_GE(reader, 0);
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 0) << "the program wrote into the FIFO";
    ::close(reader);
}

TEST(OutputFile, RecordFileRemovedBeforeTheRunIsCreatedAgain) {
    // The run's own open creates it then, with the mode the umask gives
    // (002 tells 0666 from the usual 0644).
    const bool native = tq5::testing::testing_native_binary();
    scratch_folder folder;
    folder.write("in.gb", sample);
    interactive_options options = bounded();
    if (native) options.umask = 002;
    interactive_tq5 program(folder, options);
    program.send("in.gb\nout\n");
    ASSERT_TRUE(program.wait_for(up_to_menu("in.gb", "out"))) << program.console();
    fs::remove(folder / "out.t5");
    program.send("g\n");
    const run_result result = program.finish();
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.console, up_to_menu("in.gb", "out") + text("CDS 1  CDS 2  ") +
                                  text(tq5::testing::done("out.t5")));
    EXPECT_EQ(folder.read("out.t5"), text(sample_records("in.gb")));
    if (native) {
        EXPECT_EQ(regular_file_mode(folder / "out.t5"), 0664);
    }
}

TEST(OutputFile, CreatedRecordFileHasTheModeThatTheUmaskGives) {
    SKIP_UNLESS_NATIVE();
    for (const mode_t mask : {mode_t{0}, mode_t{002}, mode_t{027}, mode_t{077}}) {
        SCOPED_TRACE("umask " + std::to_string(mask));
        scratch_folder folder;
        folder.write("in.gb", sample);
        interactive_options options = bounded();
        options.umask = mask;
        interactive_tq5 program(folder, options);
        program.send("in.gb out g\n");
        const run_result result = program.finish();
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(folder.read("out.t5"), text(sample_records("in.gb")));
        EXPECT_EQ(regular_file_mode(folder / "out.t5"), static_cast<long>(0666 & ~mask));
    }
}

// Many named CDS features: a record file of some hundred kilobytes.
std::string many_cds(int count) {
    std::string input = "LOCUS       MANY\nFEATURES             Location/Qualifiers\n";
    for (int i = 0; i < count; ++i) {
        input += "     CDS             " + std::to_string(100 * i + 1) + ".." +
                 std::to_string(100 * i + 90) + "\n";
        input += "                     /gene=\"g";
        input += std::to_string(i) + "\"\n";
    }
    return input + "ORIGIN\n//\n";
}

std::string many_records(int count) {
    std::string records;
    for (int i = 0; i < count; ++i) {
        std::string name = "g";
        name += std::to_string(i);
        records += tq5::testing::cds_record(
            std::to_string(100 * i + 1) + ".." + std::to_string(100 * i + 90), name, "in.gb", 1);
    }
    return records;
}

TEST(OutputFile, WriteFailureStopsTheRunAndKeepsTheWholeRecords) {
    SKIP_UNLESS_NATIVE();
    constexpr int count = 6000;
    const std::string full = text(many_records(count));
    const std::string trailer = text("********************\n");
    for (const long long limit : {0LL, 1LL, 70'001LL, 300'000LL}) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        ASSERT_LT(limit, static_cast<long long>(full.size()));
        scratch_folder folder;
        folder.write("in.gb", many_cds(count));
        tq5::testing::run_options options;
        options.file_size_limit = limit;
        options.timeout_seconds = time_bound_seconds;
        const run_result result = tq5::testing::run_tq5(folder, "in.gb out g\n", options);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.status, 1);

        // As many whole records as fit under the limit, the next one cut away.
        const std::string on_disk = folder.read("out.t5");
        EXPECT_LE(on_disk.size(), static_cast<std::size_t>(limit));
        EXPECT_GT(full.find(trailer, on_disk.size()) + trailer.size(),
                  static_cast<std::size_t>(limit));
        EXPECT_TRUE(full.compare(0, on_disk.size(), on_disk) == 0)
            << "the record file is not a prefix of the full record file";
        EXPECT_TRUE(on_disk.empty() || on_disk.ends_with(trailer));
        int kept = 0;
        for (std::size_t at = 0; (at = on_disk.find(trailer, at)) != on_disk.npos; at += 1)
            ++kept;

        // The dialogue, progress items 1, 2, ... up to the last record kept,
        // then the message on a line of its own, and no "done".
        const std::string start = up_to_menu("in.gb", "out");
        const std::string end =
            text("\n\aPROBLEM WRITING THE FILE out.t5.\n"
                 "THE RECORD FILE IS INCOMPLETE.\n" +
                 (kept == 0 ? std::string("IT HOLDS NO RECORDS.")
                            : "IT HOLDS THE FIRST " + std::to_string(kept) + " RECORDS.") +
                 "\n");
        const std::string& console = result.console;
        ASSERT_GE(console.size(), start.size() + end.size());
        EXPECT_EQ(console.substr(0, start.size()), start);
        EXPECT_EQ(console.substr(console.size() - end.size()), end);
        std::string expected_items;
        for (int shown = 1; shown <= kept; ++shown)
            expected_items += "CDS " + std::to_string(shown) + "  ";
        EXPECT_EQ(console.substr(start.size(), console.size() - start.size() - end.size()),
                  expected_items);
    }
}

TEST(OutputFile, ReadErrorStopsTheRun) {
    SKIP_UNLESS_NATIVE();
    // /proc/self/mem opens like a file, but reading at offset 0 fails (EIO).
    scratch_folder folder;
    tq5::testing::run_options options;
    options.timeout_seconds = time_bound_seconds;
    const run_result result = tq5::testing::run_tq5(folder, "/proc/self/mem out g\n", options);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, up_to_menu("/proc/self/mem", "out") +
                                  text("\n\aPROBLEM READING THE FILE /proc/self/mem.\n"
                                       "IT HOLDS NO RECORDS.\n"));
    EXPECT_EQ(folder.read("out.t5"), "");
}

TEST(OutputFile, InputFileRemovedBeforeTheRunIsReported) {
    scratch_folder folder;
    folder.write("in.gb", sample);
    const run_result result = run_with_change(folder, [&] { fs::remove(folder / "in.gb"); });
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, up_to_menu("in.gb", "out") + problem_opening("in.gb"));
    // The record file stays as the dialogue left it.
    EXPECT_TRUE(is_regular(folder / "out.t5"));
    EXPECT_EQ(folder.read("out.t5"), "");
}

TEST(OutputFile, InputFileReplacedByADirectoryBeforeTheRunIsReported) {
    scratch_folder folder;
    folder.write("in.gb", sample);
    const run_result result = run_with_change(folder, [&] {
        fs::remove(folder / "in.gb");
        fs::create_directory(folder / "in.gb");
    });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, up_to_menu("in.gb", "out") + problem_opening("in.gb"));
    EXPECT_EQ(folder.read("out.t5"), "");
}

} // namespace
