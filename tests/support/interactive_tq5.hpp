// Runs the real tq5 binary with its standard input and output on pipes, so
// that a test can answer the dialogue step by step: send some answers, wait
// until a text has appeared on the console, change the files on disk, send
// the next answer.
//
// Every wait has the time bound of the options: a program that outlives it
// is killed, together with its process group, and one still running when
// the object goes is killed and waited for, so that none is left behind.
//
// Header only (POSIX).  The program is the one run_tq5 runs.
#pragma once

#include "support/run_tq5.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tq5::testing {

struct interactive_options {
    std::optional<mode_t> umask;              // the child's umask
    std::optional<long long> file_size_limit; // RLIMIT_FSIZE, SIGXFSZ ignored
    int timeout_seconds = 60;                 // for every wait, and for the end
};

class interactive_tq5 {
  public:
    explicit interactive_tq5(const scratch_folder& folder, const interactive_options& options = {})
        : timeout_(options.timeout_seconds) {
        const std::vector<std::string> words = command_line();

        int in_pipe[2];
        int out_pipe[2];
        if (::pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
            close_both(in_pipe);
            throw std::runtime_error("pipe failed");
        }
        child_ = ::fork();
        if (child_ < 0) {
            close_both(in_pipe);
            close_both(out_pipe);
            throw std::runtime_error("fork failed");
        }
        if (child_ == 0) {
            // A process group of its own, so that a kill reaches whatever
            // the command started (a shell script's children, say).
            ::setpgid(0, 0);
            // The pipes' own descriptors close on exec; the copies do not.
            ::dup2(in_pipe[0], 0);
            ::dup2(out_pipe[1], 1);
            ::signal(SIGPIPE, SIG_DFL);
            exec_program(folder, words, options.file_size_limit, options.umask);
        }
        ::setpgid(child_, child_); // also here: the kill may come before the child's call
        ::close(in_pipe[0]);
        ::close(out_pipe[1]);
        to_program_ = in_pipe[1];
        from_program_ = out_pipe[0];
    }

    interactive_tq5(const interactive_tq5&) = delete;
    interactive_tq5& operator=(const interactive_tq5&) = delete;

    ~interactive_tq5() {
        close_input();
        if (from_program_ >= 0) ::close(from_program_);
        if (child_ > 0) {
            kill_all();
            reap();
        }
    }

    // Writes `answers` to the program's standard input; false if the program
    // no longer reads it.  SIGPIPE is ignored for the writes only, so that a
    // program that has ended makes the write fail instead of ending the test.
    bool send(std::string_view answers) {
        if (to_program_ < 0) return false;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        struct sigaction previous {};
        ::sigaction(SIGPIPE, &ignore, &previous);
        bool written = true;
        while (!answers.empty()) {
            const ssize_t done = ::write(to_program_, answers.data(), answers.size());
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) {
                written = false;
                break;
            }
            answers.remove_prefix(static_cast<std::size_t>(done));
        }
        ::sigaction(SIGPIPE, &previous, nullptr);
        return written;
    }

    // Ends the program's standard input.
    void close_input() {
        if (to_program_ >= 0) ::close(to_program_);
        to_program_ = -1;
    }

    // Reads the console until it holds `expected` (anywhere).  False if the
    // program ends its output first or the time bound passes.
    bool wait_for(std::string_view expected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_);
        while (console_.find(expected) == std::string::npos) {
            if (!read_some(deadline)) return false;
        }
        return true;
    }

    // Closes standard input, reads the console to its end and waits for the
    // program.  Throws if it does not end within the time bound (the
    // program is killed then).
    run_result finish() {
        close_input();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_);
        while (read_some(deadline)) {
        }
        // A program may close its output and still go on: the exit is waited
        // for within the same bound.
        const std::optional<int> ended = output_ended_ ? exit_status_by(deadline) : std::nullopt;
        if (!ended) {
            kill_all();
            reap();
            throw std::runtime_error("tq5 did not end within the time bound");
        }
        const int status = *ended;
        run_result result;
        if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
        result.console = console_;
        return result;
    }

    const std::string& console() const { return console_; }

  private:
    // One read of the console; false at its end or when the deadline passed.
    bool read_some(std::chrono::steady_clock::time_point deadline) {
        if (output_ended_) return false;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd wait_for_output{from_program_, POLLIN, 0};
            const int ready = ::poll(&wait_for_output, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR) return false;
            if (ready <= 0) continue;
            char chunk[65536];
            const ssize_t got = ::read(from_program_, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                output_ended_ = true;
                return false;
            }
            console_.append(chunk, static_cast<std::size_t>(got));
            return true;
        }
    }

    static void close_both(const int (&ends)[2]) {
        ::close(ends[0]);
        ::close(ends[1]);
    }

    // The wait status once the program has ended, or nothing if it has not
    // by `deadline`.
    std::optional<int> exit_status_by(std::chrono::steady_clock::time_point deadline) {
        const std::optional<int> status = testing::exit_status_by(child_, deadline);
        if (status) child_ = -1;
        return status;
    }

    // Kills the program and everything else in its process group.
    void kill_all() {
        if (::kill(-child_, SIGKILL) != 0) ::kill(child_, SIGKILL);
    }

    // Waits for the program, which has ended or has been killed.
    int reap() {
        int status = 0;
        while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
        return status;
    }

    int timeout_;
    pid_t child_ = -1;
    int to_program_ = -1;
    int from_program_ = -1;
    bool output_ended_ = false;
    std::string console_;
};

} // namespace tq5::testing
