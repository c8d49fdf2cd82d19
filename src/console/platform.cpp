#include "console/platform.hpp"

#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tq5::platform {

#ifdef _WIN32
// Windows: the C runtime's own calls.  Files are opened shared (no
// exclusive access), the input in binary mode so that the program's line
// rule sees every byte, the record file and the console in text mode so that
// each line feed goes out as CR LF.

namespace {

// The runtime counts in int: a single call never asks for more than 1 GiB.
constexpr std::size_t largest_transfer = std::size_t{1} << 30;

bool is_directory(int fd) {
    struct _stat64 info {};
    return _fstat64(fd, &info) != 0 || (info.st_mode & _S_IFMT) == _S_IFDIR;
}

// Text in `code_page` as wide characters; empty if it is not valid there.
std::wstring wide(const std::string& text, UINT code_page, DWORD flags) {
    const int size = static_cast<int>(text.size());
    const int count = ::MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
    if (count <= 0) return {};
    std::wstring result(static_cast<std::size_t>(count), L'\0');
    ::MultiByteToWideChar(code_page, flags, text.data(), size, result.data(), count);
    return result;
}

// The name, UTF-8, as the system's wide-character calls take it (up to a NUL
// in it, as everywhere).  Empty, which names no file, if it is not UTF-8.
std::wstring wide_name(const std::string& name) {
    return wide(name, CP_UTF8, MB_ERR_INVALID_CHARS);
}

bool is_console(DWORD handle_kind) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(handle_kind), &mode) != 0;
}

// How many bytes at the end of `data` begin a UTF-8 sequence that the next
// bytes must complete.
std::size_t incomplete_tail(const char* data, std::size_t size) {
    for (std::size_t back = 1; back <= std::min<std::size_t>(size, 3); ++back) {
        const auto byte = static_cast<unsigned char>(data[size - back]);
        if ((byte & 0xc0) == 0x80) continue;
        const std::size_t length = byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

bool is_high_surrogate(wchar_t unit) {
    return unit >= 0xd800 && unit <= 0xdbff;
}

// What the user typed at the console, read as wide characters.
struct typed_answers {
    wchar_t units[1024];
    wchar_t held = 0; // the first half of a surrogate pair, waiting for the second
    bool ended = false;
};

std::int64_t read_typed(typed_answers& typed, char* buffer, std::size_t capacity) {
    // A wide unit takes at most three bytes of UTF-8 (a pair takes four).
    const std::size_t room = std::min(capacity / 3, std::size(typed.units));
    std::size_t count = 0;
    while (count == 0 && !typed.ended) {
        if (typed.held != 0) typed.units[count++] = typed.held;
        typed.held = 0;
        DWORD got = 0;
        if (!::ReadConsoleW(::GetStdHandle(STD_INPUT_HANDLE), typed.units + count,
                            static_cast<DWORD>(room - count), &got, nullptr))
            return -1;
        if (got == 0) typed.ended = true;
        count += got;
        const wchar_t* end = std::find(typed.units, typed.units + count, L'\x1a');
        if (end != typed.units + count) {
            count = static_cast<std::size_t>(end - typed.units);
            typed.ended = true;
        } else if (count > 0 && is_high_surrogate(typed.units[count - 1])) {
            typed.held = typed.units[--count];
        }
    }
    if (count == 0) return 0;
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, typed.units, static_cast<int>(count), buffer,
                                           static_cast<int>(capacity), nullptr, nullptr);
    return size > 0 ? size : -1;
}

// Text for the console, turned into wide characters with each line feed
// written as CR LF, as text mode does.  A UTF-8 sequence cut by the end of a
// write waits for the rest.
struct console_text {
    char pending[4]{};
    std::size_t pending_size = 0;
    wchar_t units[2048];
    wchar_t lines[4096];
};

bool show(console_text& text, const char* data, std::size_t size) {
    while (size > 0) {
        // Whole sequences only: the pending bytes and then the next ones.
        char piece[2048];
        std::size_t used = text.pending_size;
        std::memcpy(piece, text.pending, used);
        const std::size_t taken = std::min(size, sizeof piece - used);
        std::memcpy(piece + used, data, taken);
        used += taken;
        data += taken;
        size -= taken;
        text.pending_size = incomplete_tail(piece, used);
        used -= text.pending_size;
        std::memcpy(text.pending, piece + used, text.pending_size);
        const int count =
            ::MultiByteToWideChar(CP_UTF8, 0, piece, static_cast<int>(used), text.units,
                                  static_cast<int>(std::size(text.units)));
        std::size_t out = 0;
        for (int i = 0; i < count; ++i) {
            if (text.units[i] == L'\n') text.lines[out++] = L'\r';
            text.lines[out++] = text.units[i];
        }
        DWORD done = 0;
        for (std::size_t at = 0; at < out; at += done)
            if (!::WriteConsoleW(::GetStdHandle(STD_OUTPUT_HANDLE), text.lines + at,
                                 static_cast<DWORD>(out - at), &done, nullptr) ||
                done == 0)
                return false;
    }
    return true;
}

} // namespace

std::int64_t read_answers(char* buffer, std::size_t capacity) {
    static const bool typed_at_console = is_console(STD_INPUT_HANDLE);
    static typed_answers typed;
    if (!typed_at_console) return read_some(console_in, buffer, capacity);
    return read_typed(typed, buffer, capacity);
}

std::string name_from_answer(const std::string& answer) {
    if (!wide(answer, CP_UTF8, MB_ERR_INVALID_CHARS).empty()) return answer;
    const std::wstring name = wide(answer, CP_ACP, 0);
    const int wide_size = static_cast<int>(name.size());
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, name.data(), wide_size, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return answer;
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, name.data(), wide_size, result.data(), size, nullptr,
                          nullptr);
    return result;
}

bool write_console(const char* data, std::size_t size) {
    static const bool shown_on_console = is_console(STD_OUTPUT_HANDLE);
    static console_text text;
    if (!shown_on_console) return write_all(console_out, data, size);
    return show(text, data, size);
}

int open_input(const std::string& name, bool) {
    const int fd =
        _wsopen(wide_name(name).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO);
    if (fd < 0) return -1;
    if (is_directory(fd)) {
        _close(fd);
        return -1;
    }
    return fd;
}

int create_new_output(const std::string& name) {
    return _wsopen(wide_name(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT | _O_NOINHERIT,
                   _SH_DENYNO, _S_IREAD | _S_IWRITE);
}

int open_output_for_run(const std::string& name) {
    // The name itself is opened, not what a symbolic link or junction in
    // its place points to, and the file is emptied only once it is known to
    // be an ordinary disk file with no other name: a device, a link or a
    // second name of someone else's file is refused untouched.
    const HANDLE file =
        ::CreateFileW(wide_name(name).c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & not_plain) != 0 || info.nNumberOfLinks != 1 ||
        !::SetEndOfFile(file)) {
        ::CloseHandle(file);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_TEXT);
    if (fd < 0) ::CloseHandle(file);
    return fd;
}

std::int64_t read_some(int fd, char* buffer, std::size_t capacity) {
    const int got = _read(fd, buffer, static_cast<unsigned>(std::min(capacity, largest_transfer)));
    return got < 0 ? -1 : got;
}

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t chunk = std::min(size, largest_transfer);
        const int done = _write(fd, data, static_cast<unsigned>(chunk));
        if (done <= 0) return false;
        // The count is of the caller's bytes, the carriage returns added in
        // text mode not included; it is kept within the chunk all the same.
        const std::size_t taken = std::min(static_cast<std::size_t>(done), chunk);
        data += taken;
        size -= taken;
    }
    return true;
}

std::int64_t file_size(int fd) {
    return _filelengthi64(fd);
}

bool cut_file(int fd, std::int64_t size) {
    return _chsize_s(fd, size) == 0;
}

bool close_file(int fd) {
    return _close(fd) == 0;
}

void prepare_process() {
    // The answers and the console are text; the runtime's default mode may
    // have been changed at link time, so it is set here.
    _setmode(console_in, _O_TEXT);
    _setmode(console_out, _O_TEXT);
}

#else
// POSIX: plain descriptors; text and binary are the same.

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

int create_new_output(const std::string& name) {
    return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

int open_output_for_run(const std::string& name) {
    // O_NONBLOCK keeps a FIFO put in the file's place from stalling the
    // open; the check below refuses it anyway.  The file is emptied only
    // once it is known to be a regular file with no other name: a hard link
    // put in its place would give someone else's file.
    const int fd =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
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

#endif

void end_process(int status) {
    std::exit(status);
}

} // namespace tq5::platform
