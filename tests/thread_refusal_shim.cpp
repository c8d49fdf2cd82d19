// Preloaded into tq5 by tests/run-cases (the condition `threads`) and
// tests/thread-refusal.sh: a system that runs out of threads.  The first
// TQ5_TEST_THREAD_STARTS calls of pthread_create start their thread; every
// later one fails with EAGAIN and starts nothing.  Without the variable
// every call goes through.  Each refusal appends one byte to the file
// TQ5_TEST_THREAD_REFUSALS names, if set, so that the test can tell that the
// refusals reached the program.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

using create_function = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

std::atomic<long> starts_so_far{0};

// -1: no limit.
long allowed_starts() {
    const char* text = std::getenv("TQ5_TEST_THREAD_STARTS");
    return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : -1;
}

void note_refusal() {
    const char* path = std::getenv("TQ5_TEST_THREAD_REFUSALS");
    if (path == nullptr) return;
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t written = write(fd, "r", 1);
    close(fd);
}

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
    static const long allowed = allowed_starts();
    if (allowed >= 0 && starts_so_far.fetch_add(1) >= allowed) {
        note_refusal();
        return EAGAIN;
    }
    static const auto next = reinterpret_cast<create_function>(dlsym(RTLD_NEXT, "pthread_create"));
    if (next == nullptr) return EAGAIN;
    return next(thread, attributes, start, argument);
}
