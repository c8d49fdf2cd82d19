// The program's process-long objects and the console procedures over them.
#pragma once

#include "extract/input_text.hpp"
#include "extract/line_reader.hpp"
#include "extract/out_sink.hpp"
#include "extract/scanner.hpp"
#include "platform/platform.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tq5 {

// The two file names chosen in the dialogue: on Windows in UTF-8, which the
// "#file=" line and the console get as well (see platform.hpp); a NUL typed
// in a name stands there as U+FFFD.
struct run_settings {
    std::string input_name;              // exactly as typed
    std::string output_name;             // as typed, with ".t5" appended
    platform::file_identity output_made; // the file the output question made
};

// Standard input, read word by word.
struct reply_reader {
    std::array<char, 4096> buffer{};
    std::size_t begin = 0;
    std::size_t end = 0;
    bool done = false;
    std::string word;      // the last answer read, up to the longest name
    bool too_long = false; // whether it went on beyond that
};

// A place in the record file where a whole record ends, and where the
// console then stood.
struct record_end {
    std::int64_t bytes = 0;         // bytes put to the record file before it
    std::int64_t line_feeds = 0;    // line feeds among them
    std::int64_t records = 0;       // whole records before it
    std::int64_t console_bytes = 0; // bytes put to the console by then
};

// Where a failed run may cut the record file back to: the last record end
// that the file has already taken, and every one after it.
struct whole_records {
    std::vector<record_end> ends;
    std::int64_t handed_line_feeds = 0; // line feeds the file has taken
};

struct session {
    run_settings settings;
    out_sink console;
    reply_reader replies;
    int input_fd = -1;
    int output_fd = -1;
    input_text text; // the input file's text, plain or inflated
    line_reader input;
    out_sink record;
    whole_records whole;
    scan_state scan;
};

// Console output: `say` writes, `line_end` writes a line feed and flushes,
// `flush_console` flushes (after a question, the answer goes on its line).
void say(session& s, std::string_view text);
void line_end(session& s);
void flush_console(session& s);
// "\aPROBLEM <doing> THE FILE <name>." on a line of its own.
void say_problem(session& s, std::string_view doing, std::string_view name);

// The next answer word: white space skipped, the word ends before the next
// white-space character.  Only its start is kept, as long as the longest name
// the system takes (`too_long` tells that more followed), so that no answer
// can fill the memory.  If standard input ends before a word, the program
// ends through `halt_at_end_of_answers`.
const std::string& read_reply(session& s);
// The upper-cased first character of the next answer.
char read_reply_letter(session& s);

void ask_input_file(session& s);
void ask_output_file(session& s);
void show_menu(session& s);

// The run: open both files, scan, finish.
void run_extraction(session& s);
void finish_run(session& s);
// Ends the reading of the input: its threads, if any, and its file.
void stop_reading(session& s);

// After a failure in the run: cuts the record file back to the end of its
// last whole record on disk, takes back the progress items of the records cut
// off that the console has not shown yet, and returns the count of whole
// records the file keeps.
std::int64_t keep_whole_records(session& s);

[[noreturn]] void halt(session& s);
[[noreturn]] void halt_at_end_of_answers(session& s);
[[noreturn]] void fail_opening(session& s, const std::string& name);
[[noreturn]] void fail_writing(session& s);
[[noreturn]] void fail_reading(session& s);

} // namespace tq5
