// Preloaded into tq5 by tests/run-cases (the condition `threads`) and
// tests/thread-refusal.sh: a system that runs out of threads.  The first
// TQ5_TEST_THREAD_STARTS calls of pthread_create start their thread (all of
// them without the variable); every later one fails with EAGAIN and appends
// one byte to the file TQ5_TEST_THREAD_REFUSALS names, if set, so that a test
// can tell that the refusals reached the program.
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
} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
    static const char* const limit = std::getenv("TQ5_TEST_THREAD_STARTS");
    static const long allowed =
        limit != nullptr && *limit != '\0' ? std::strtol(limit, nullptr, 10) : -1;
    if (allowed >= 0 && starts_so_far.fetch_add(1) >= allowed) {
        const char* path = std::getenv("TQ5_TEST_THREAD_REFUSALS");
        if (const int fd = path ? open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644) : -1;
            fd >= 0) {
            [[maybe_unused]] const ssize_t written = write(fd, "r", 1);
            close(fd);
        }
        return EAGAIN;
    }
    static const auto next = reinterpret_cast<create_function>(dlsym(RTLD_NEXT, "pthread_create"));
    if (next == nullptr) return EAGAIN;
    return next(thread, attributes, start, argument);
}
