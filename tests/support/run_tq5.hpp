// Runs the real tq5 binary in a fresh folder with answers on standard input.
//
// TQ5_COMMAND, when set, replaces the binary by a command line (for example
// "wine /path/tq5.exe"); TQ5_CRLF=1 says that the program under test writes
// its line ends as CR LF, and the expected texts are converted accordingly.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace tq5::testing {

struct run_result {
    int status = -1;     // exit status, or -1 if the process did not exit normally
    int signal = 0;      // the signal that ended it, if any
    std::string console; // everything written to standard output
};

struct run_options {
    std::optional<long long> file_size_limit; // RLIMIT_FSIZE for the child, in bytes
    int timeout_seconds = 60;
};

// A temporary folder that is removed again with everything in it.
class scratch_folder {
  public:
    scratch_folder();
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
    void write(std::string_view name, std::string_view bytes) const;
    std::string read(std::string_view name) const;
    bool exists(std::string_view name) const;

  private:
    std::filesystem::path path_;
};

run_result run_tq5(const scratch_folder& folder, std::string_view answers,
                   const run_options& options = {});

// The command line of the program under test: TQ5_COMMAND split at blanks,
// or the tq5 binary of this build.
std::vector<std::string> command_line();

// In a forked child whose standard input and output are in place: enters
// `folder`, sets the umask and the file-size limit (SIGXFSZ ignored) when
// given, and runs `words`.  Never returns.
[[noreturn]] void exec_program(const scratch_folder& folder, const std::vector<std::string>& words,
                               std::optional<long long> file_size_limit,
                               std::optional<mode_t> umask = {});

// The wait status of `child` once it has ended, or nothing if it has not
// ended by `deadline`.
std::optional<int> exit_status_by(pid_t child, std::chrono::steady_clock::time_point deadline);

// Whether the program under test is the native one (some tests use Linux
// specifics such as /proc or RLIMIT_FSIZE).
bool testing_native_binary();

// The expected bytes of the program under test for a text written with "\n"
// line ends.
std::string text(std::string_view with_line_feeds);

// The console texts of the dialogue, with "\n" line ends.
std::string screen_clear();                       // 50 line ends
std::string banner();                             // after the first screen clear
std::string input_question();                     // "Name of input file ..."
std::string input_refused(std::string_view name); // PROBLEM OPENING ... C/Q question
std::string input_retry();                        // after C
std::string output_question();
std::string output_refused(std::string_view output_name);
std::string menu(std::string_view input_name, std::string_view output_name);
std::string done(std::string_view output_name);
std::string halted();

} // namespace tq5::testing
