// Everything that differs between the operating systems: opening, creating,
// reading, writing and closing files, the console's text, and ending the
// process.  Descriptors are plain integers; -1 means "no file".  One file
// per system holds the calls: platform_posix.cpp and platform_windows.cpp,
// of which the build compiles the one for its target.
//
// File names are bytes on POSIX systems, taken and written as they come.  On
// Windows they are held in UTF-8 and handed to the system's wide-character
// calls, so that a name in any language names the file it spells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tq5::platform {

inline constexpr int console_in = 0;
inline constexpr int console_out = 1;

// Opens an existing file for reading, byte for byte.  Fails (-1) if there
// is no such file, it cannot be read, or it is a directory; on Windows also
// if it is not a disk file (a device: `con.gb`, `aux`, `com1.txt`).  `for_test`
// asks for an open that cannot block (a FIFO, say), for a name that is only
// checked and closed again.
int open_input(const std::string& name, bool for_test);

// The longest file name, in bytes, that the system may take: every longer
// one it refuses (on Windows, whose limit is in UTF-16 units, whatever the
// answer's encoding).
extern const std::size_t longest_name;

// Which file a name stood for: device and inode on POSIX systems, volume
// serial number and file index on Windows.
struct file_identity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
};

// Creates a new, empty, ordinary file and closes it again, noting which file
// it is in `made`; fails if the name exists, and on Windows if it names a
// device (`nul`, `con.txt`), which no file is made for.
bool create_new_output(const std::string& name, file_identity& made);

// Opens the output file for the run and empties it: the file `made`, or a new
// one where its name no longer exists.  Refuses, untouched, any other file
// in its place (another ordinary file moved there, a second name of another
// file, a directory, a device) and does not follow a symbolic link there.
int open_output_for_run(const std::string& name, const file_identity& made);

// Reads up to `capacity` bytes: the count, 0 at the end, -1 on an error.
std::int64_t read_some(int fd, char* buffer, std::size_t capacity);

// Reads the answers from standard input like `read_some`; `capacity` is at
// least 6.  On Windows, from a console, what the user typed comes as UTF-8,
// whatever the console's code pages, and Ctrl-Z ends the answers as it does
// in text mode; from a pipe or a file, answers that start with a byte-order
// mark come in the encoding it names, as UTF-8 and without the mark (see
// console_text.hpp).
std::int64_t read_answers(char* buffer, std::size_t capacity);

// The file name that an answer spells.  On Windows an answer that is not
// valid UTF-8 came from a pipe or a file in the ANSI code page, and is turned
// into UTF-8; elsewhere, and for valid UTF-8, the answer itself.
std::string name_from_answer(const std::string& answer);

// Writes to the console (standard output) like `write_all`.  On Windows a
// console is given the text, UTF-8, as wide characters, so that every name
// shows as typed; standard output that is not a console gets the bytes.
bool write_console(const char* data, std::size_t size);

// Writes all bytes; false if that failed.  On Windows every line feed goes
// out as CR LF, put there by this call, and the file takes the bytes as they
// then are (binary mode), so that its size counts them all.
bool write_all(int fd, const char* data, std::size_t size);

// Hands what the file has been given to the disk; false if the system says
// it could not (a network share or a USB stick may only tell so here).  On
// POSIX systems `close_file` reports such errors, and this does nothing.
bool flush_to_disk(int fd);

// The size of the file, or -1 if the system cannot tell it.
std::int64_t file_size(int fd);

// Whether each line feed written takes two bytes on disk (CR LF, on
// Windows).  Each system's file defines it.
extern const bool line_feed_takes_two;

// Cuts the file back to `size` bytes; false if that failed.
bool cut_file(int fd, std::int64_t size);

// Closes the file; false if the system reports that it could not be.
bool close_file(int fd);

// Process-wide settings made once at the start: a write beyond a file-size
// limit must fail with an error the program reports, not end the process.
void prepare_process();

[[noreturn]] void end_process(int status);

// The number of CPUs the process may run on (its affinity: a CPU set, a
// batch job's share of the machine), at least 1.  Where the system cannot
// tell, the number of CPUs of the machine.
unsigned usable_cpus();

// Goes back to the start of the file; false where it cannot (a pipe).
bool rewind_file(int fd);

// The address space the process may take in all (a limit such as
// `ulimit -v`), or the largest value where there is none.
std::uint64_t memory_limit();

} // namespace tq5::platform
