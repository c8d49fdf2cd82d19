// Windows: the system's and the C runtime's calls.  Files are opened shared
// (no exclusive access) and in binary mode: the input so that the program's
// line rule sees every byte, the record file and the console so that the
// CR LF that `write_all` puts for each line feed are the bytes on disk.  The
// input and the record file must be disk files: a name such as `con.gb`,
// `aux`, `nul` or `com1.txt` is a device in every folder.
#include "platform/console_text.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
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

namespace tq5::platform {

const bool line_feed_takes_two = true;

// The system's paths hold at most 32767 UTF-16 units, and no name takes
// fewer than one unit for three bytes of its UTF-8 or ANSI answer.
const std::size_t longest_name = 3 * 32767;

namespace {

// The runtime counts in int: a single call never asks for more than 1 GiB.
constexpr std::size_t largest_transfer = std::size_t{1} << 30;

// The file behind `handle`, if it is a disk file that is no directory and
// no link (a reparse point), with the count of its names.
bool plain_disk_file(HANDLE handle, file_identity& identity, DWORD& names) {
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & not_plain) != 0)
        return false;
    identity.device = info.dwVolumeSerialNumber;
    identity.file = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    names = info.nNumberOfLinks;
    return true;
}

// The runtime's descriptor for `handle`, which it then owns; -1, the handle
// closed, if it has none to give.
int descriptor_of(HANDLE handle, int flags) {
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), flags);
    if (fd < 0) ::CloseHandle(handle);
    return fd;
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Text in `code_page` as wide characters; empty if it is not valid there.
std::wstring wide(const std::string& text, UINT code_page, DWORD flags) {
    const int size = static_cast<int>(text.size());
    const int count = ::MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
    if (count <= 0) return {};
    std::wstring result(static_cast<std::size_t>(count), L'\0');
    ::MultiByteToWideChar(code_page, flags, text.data(), size, result.data(), count);
    return result;
}

// The name, UTF-8, as the system's wide-character calls take it.  Empty,
// which names no file, if it is not UTF-8.
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

// What the user typed at the console, read as wide characters.
std::int64_t read_console(void*, char16_t* units, std::size_t count) {
    wchar_t typed[sizeof typed_answers::units / sizeof(char16_t)];
    DWORD got = 0;
    if (!::ReadConsoleW(::GetStdHandle(STD_INPUT_HANDLE), typed,
                        static_cast<DWORD>(std::min(count, std::size(typed))), &got, nullptr))
        return -1;
    std::transform(typed, typed + got, units, [](wchar_t unit) { return char16_t(unit); });
    return got;
}

// Answers from a pipe or a file: a possible byte-order mark, and UTF-16, as
// they are (binary mode); answers in bytes as before, in text mode.
std::int64_t read_piped_bytes(void*, char* bytes, std::size_t count) {
    return read_some(console_in, bytes, count);
}

void read_piped_as(void*, answer_form form) {
    _setmode(console_in, form == answer_form::bytes ? _O_TEXT : _O_BINARY);
}

// An answer in the ANSI code page, as wide characters; empty if it is not
// valid there.
std::u16string from_ansi(const std::string& text) {
    const std::wstring units = wide(text, CP_ACP, 0);
    std::u16string result(units.size(), u'\0');
    std::transform(units.begin(), units.end(), result.begin(),
                   [](wchar_t unit) { return char16_t(unit); });
    return result;
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
    static piped_answers piped;
    if (!typed_at_console)
        return read_piped(piped, {read_piped_bytes, read_piped_as}, buffer, capacity);
    return read_typed(typed, {read_console, nullptr}, buffer, capacity);
}

std::string name_from_answer(const std::string& answer) {
    return answer_as_utf8(answer, from_ansi);
}

bool write_console(const char* data, std::size_t size) {
    static const bool shown_on_console = is_console(STD_OUTPUT_HANDLE);
    static console_text text;
    if (!shown_on_console) return write_all(console_out, data, size);
    return show(text, data, size);
}

int open_input(const std::string& name, bool) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
    const HANDLE file = ::CreateFileW(wide_name(name).c_str(), GENERIC_READ, share_all, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    file_identity identity;
    DWORD names = 0;
    if (!plain_disk_file(file, identity, names)) {
        ::CloseHandle(file);
        return -1;
    }
    return descriptor_of(file, _O_RDONLY | _O_BINARY);
}

bool create_new_output(const std::string& name, file_identity& made) {
    const std::wstring wide = wide_name(name);
    const auto create = [&](DWORD access) {
        return ::CreateFileW(wide.c_str(), access, share_all, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    // The right to remove it again, where the folder gives it: where not,
    // the refused open made no file, and it is made without.
    HANDLE file = create(GENERIC_WRITE | DELETE);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
        file = create(GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return false;
    // A device opens whatever the disposition: no file was made, and none is
    // removed.  A disk file that cannot be told again at the run is not left
    // behind: it goes through its own handle, never by a name that another
    // file may have taken meanwhile.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return false;
    }
    DWORD names = 0;
    const bool known = plain_disk_file(file, made, names);
    if (!known) {
        FILE_DISPOSITION_INFO remove{TRUE};
        ::SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove);
    }
    ::CloseHandle(file);
    return known;
}

int open_output_for_run(const std::string& name, const file_identity& made) {
    // The name itself is opened, not what a symbolic link or junction in
    // its place points to, and the file is emptied only once it is known to
    // be the disk file the question made, with no other name: another file
    // moved onto its name, a device, a link or a second name of someone
    // else's file is refused untouched.  Where the name is gone, a new file
    // is made.
    const std::wstring wide = wide_name(name);
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    bool made_here = false;
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING,
                                flags, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, share_all, nullptr, CREATE_NEW, flags,
                             nullptr);
        made_here = true;
    }
    if (file == INVALID_HANDLE_VALUE) return -1;
    file_identity found;
    DWORD names = 0;
    if (!plain_disk_file(file, found, names) || names != 1 ||
        (!made_here && (found.device != made.device || found.file != made.file)) ||
        !::SetEndOfFile(file)) {
        ::CloseHandle(file);
        return -1;
    }
    return descriptor_of(file, _O_WRONLY | _O_BINARY);
}

std::int64_t read_some(int fd, char* buffer, std::size_t capacity) {
    const int got = _read(fd, buffer, static_cast<unsigned>(std::min(capacity, largest_transfer)));
    return got < 0 ? -1 : got;
}

namespace {

bool write_bytes(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const int done = _write(fd, data, static_cast<unsigned>(std::min(size, largest_transfer)));
        if (done <= 0) return false;
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

} // namespace

bool write_all(int fd, const char* data, std::size_t size) {
    char lines[32 * 1024];
    while (size > 0) {
        std::size_t out = 0;
        std::size_t taken = 0;
        for (; taken < size && out + 2 <= sizeof lines; ++taken) {
            if (data[taken] == '\n') lines[out++] = '\r';
            lines[out++] = data[taken];
        }
        if (!write_bytes(fd, lines, out)) return false;
        data += taken;
        size -= taken;
    }
    return true;
}

bool flush_to_disk(int fd) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != 0;
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
    // The answers are text, the console gets the bytes that `write_all`
    // makes; the runtime's default mode may have been changed at link time,
    // so both are set here.
    _setmode(console_in, _O_TEXT);
    _setmode(console_out, _O_BINARY);
}

void end_process(int status) {
    std::exit(status);
}

unsigned usable_cpus() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) != 0 && process != 0) {
        unsigned count = 0;
        for (; process != 0; process &= process - 1)
            ++count;
        return count;
    }
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return std::max<unsigned>(info.dwNumberOfProcessors, 1u);
}

bool rewind_file(int fd) {
    return _lseeki64(fd, 0, SEEK_SET) == 0;
}

std::uint64_t memory_limit() {
    return UINT64_MAX;
}

} // namespace tq5::platform
