// POSIX: plain descriptors; text and binary are the same.
#include "platform/platform.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tq5::platform {

const bool line_feed_takes_two = false;

// The kernel refuses a path of PATH_MAX bytes or more, terminator included.
#ifdef PATH_MAX
const std::size_t longest_name = PATH_MAX - 1;
#else
const std::size_t longest_name = 4095;
#endif

namespace {

file_identity identity_of(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

} // namespace

int open_input(const std::string& name, bool for_test) {
    const int flags = O_RDONLY | O_CLOEXEC | (for_test ? O_NONBLOCK : 0);
    const int fd = ::open(name.c_str(), flags);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool create_new_output(const std::string& name, file_identity& made) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    ::close(fd);
    // A file that cannot be told again at the run is not left behind.
    if (!known) ::unlink(name.c_str());
    made = identity_of(info);
    return known;
}

int open_output_for_run(const std::string& name, const file_identity& made) {
    // O_NONBLOCK keeps a FIFO put in the file's place from stalling the
    // open; the check below refuses it anyway.  The file is emptied only
    // once it is known to be the file the question made, with no other
    // name: another file moved onto its name, or a hard link put in its
    // place, is someone else's.  Where the name is gone, a new file is made.
    const int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(name.c_str(), flags);
    bool made_here = false;
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(name.c_str(), flags | O_CREAT | O_EXCL, 0666);
        made_here = true;
    }
    if (fd < 0) return -1;
    struct stat info {};
    const auto same = [&] {
        const file_identity found = identity_of(info);
        return made_here || (found.device == made.device && found.file == made.file);
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 || !same() ||
        ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

std::int64_t read_some(int fd, char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, capacity);
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

std::int64_t read_answers(char* buffer, std::size_t capacity) {
    return read_some(console_in, buffer, capacity);
}

std::string name_from_answer(const std::string& answer) {
    return answer;
}

bool write_console(const char* data, std::size_t size) {
    return write_all(console_out, data, size);
}

bool flush_to_disk(int) {
    return true;
}

std::int64_t file_size(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

bool cut_file(int fd, std::int64_t size) {
    for (;;) {
        if (::ftruncate(fd, static_cast<off_t>(size)) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool close_file(int fd) {
    return ::close(fd) == 0 || errno == EINTR;
}

void prepare_process() {
    std::signal(SIGXFSZ, SIG_IGN);
}

void end_process(int status) {
    std::exit(status);
}

unsigned usable_cpus() {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    return std::max(std::thread::hardware_concurrency(), 1u);
}

bool rewind_file(int fd) {
    return ::lseek(fd, 0, SEEK_SET) == 0;
}

std::uint64_t memory_limit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return limit.rlim_cur;
}

} // namespace tq5::platform
