#include "support/run_tq5.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tq5::testing {

namespace fs = std::filesystem;

scratch_folder::scratch_folder() {
    std::string pattern = (fs::temp_directory_path() / "tq5-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_folder::~scratch_folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void scratch_folder::write(std::string_view name, std::string_view bytes) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + std::string(name));
}

std::string scratch_folder::read(std::string_view name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + std::string(name));
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool scratch_folder::exists(std::string_view name) const {
    std::error_code ignored;
    return fs::symlink_status(path_ / name, ignored).type() != fs::file_type::not_found;
}

std::vector<std::string> command_line() {
    std::vector<std::string> words;
    if (const char* command = std::getenv("TQ5_COMMAND"); command != nullptr && *command != 0) {
        std::istringstream split{std::string(command)};
        for (std::string word; split >> word;)
            words.push_back(word);
    } else {
        words.emplace_back(TQ5_BINARY);
    }
    return words;
}

void exec_program(const scratch_folder& folder, const std::vector<std::string>& words,
                  std::optional<long long> file_size_limit, std::optional<mode_t> umask) {
    if (::chdir(folder.path().c_str()) != 0) ::_exit(127);
    if (umask) ::umask(*umask);
    if (file_size_limit) {
        ::signal(SIGXFSZ, SIG_IGN);
        const auto limit = static_cast<rlim_t>(*file_size_limit);
        const rlimit bound{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &bound);
    }
    std::vector<char*> argv;
    for (const std::string& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

std::optional<int> exit_status_by(pid_t child, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) return status;
        if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        ::poll(nullptr, 0, 5);
    }
}

bool testing_native_binary() {
    const char* command = std::getenv("TQ5_COMMAND");
    return command == nullptr || *command == 0;
}

run_result run_tq5(const scratch_folder& folder, std::string_view answers,
                   const run_options& options) {
    // The answers come from a file, so that the program can meet their end
    // without a pipe's timing in between.
    char answer_path[] = "/tmp/tq5-answers-XXXXXX";
    const int answer_fd = ::mkstemp(answer_path);
    if (answer_fd < 0) throw std::runtime_error("mkstemp failed");
    if (::write(answer_fd, answers.data(), answers.size()) != static_cast<ssize_t>(answers.size()))
        throw std::runtime_error("cannot write the answers");
    ::lseek(answer_fd, 0, SEEK_SET);
    ::unlink(answer_path);

    int out_pipe[2];
    if (::pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");

    const std::vector<std::string> words = command_line();
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::dup2(answer_fd, 0);
        ::dup2(out_pipe[1], 1);
        ::close(out_pipe[0]);
        ::close(out_pipe[1]);
        ::close(answer_fd);
        exec_program(folder, words, options.file_size_limit);
    }
    ::close(out_pipe[1]);
    ::close(answer_fd);

    run_result result;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
    bool timed_out = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        pollfd wait_for{out_pipe[0], POLLIN, 0};
        const int ready = ::poll(&wait_for, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char chunk[65536];
        const ssize_t got = ::read(out_pipe[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        result.console.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(out_pipe[0]);
    // A program may close its output and still go on: its end is waited for
    // within the same bound.
    std::optional<int> ended;
    if (!timed_out) ended = exit_status_by(child, deadline);
    if (!ended) {
        ::kill(child, SIGKILL);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        throw std::runtime_error("tq5 did not end within the time bound");
    }
    const int status = *ended;
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

std::string text(std::string_view with_line_feeds) {
    const char* crlf = std::getenv("TQ5_CRLF");
    std::string out;
    out.reserve(with_line_feeds.size() + with_line_feeds.size() / 8);
    for (const char c : with_line_feeds) {
        if (c == '\n' && crlf != nullptr && std::string_view(crlf) == "1") out += '\r';
        out += c;
    }
    return out;
}

std::string screen_clear() {
    return std::string(50, '\n');
}

std::string banner() {
    return "TQ5_v1: CDS features of a GenBank file to a .t5 record file\n\n";
}

std::string input_question() {
    return "Name of input file (GenBank file): ";
}

std::string input_refused(std::string_view name) {
    return "\aPROBLEM OPENING THE FILE " + std::string(name) +
           ".\nTHE FILE MAY NOT EXIST.\nTYPE Q <enter> TO QUIT\nOR TYPE C <enter> TO CONTINUE.> ";
}

std::string input_retry() {
    return "\n\n";
}

std::string output_question() {
    return "\nName of output file(.t5 suffix added): ";
}

std::string output_refused(std::string_view output_name) {
    return "\aTHE FILE " + std::string(output_name) +
           " MAY ALREADY EXIST.\nTYPE Q <enter> TO QUIT \nOR N <enter> FOR NEW FILENAME.> ";
}

std::string menu(std::string_view input_name, std::string_view output_name) {
    return screen_clear() + "I  Input file:       " + std::string(input_name) +
           "\nO  Output file:      " + std::string(output_name) +
           "\n\nType the letter associated with the\nmenu item you wish to change.\n"
           "\nType G<enter> to run the program or Q<enter> to quit. > ";
}

std::string done(std::string_view output_name) {
    return "\nTQ5_v3 done.\nSee file " + std::string(output_name) + " for details.\n";
}

std::string halted() {
    return "TQ5_v3 halted.\n";
}

} // namespace tq5::testing
