// The set-up questions: the input file, the output file, and the answers.
#include "console/session.hpp"
#include "platform/platform.hpp"

#include <algorithm>

namespace tq5 {

namespace {

bool is_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The next byte of standard input without taking it; false at its end.
bool peek(reply_reader& replies, char& c) {
    if (replies.begin == replies.end) {
        if (replies.done) return false;
        const std::int64_t got =
            platform::read_answers(replies.buffer.data(), replies.buffer.size());
        if (got <= 0) {
            replies.done = true;
            return false;
        }
        replies.begin = 0;
        replies.end = static_cast<std::size_t>(got);
    }
    c = replies.buffer[replies.begin];
    return true;
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The name that an answer spells.  A NUL in it becomes U+FFFD, as a unit 0
// in UTF-16 answers does: the system would end the name there.
std::string name_of(const std::string& answer) {
    std::string name;
    for (const char c : platform::name_from_answer(answer)) {
        if (c == '\0')
            name += "\xef\xbf\xbd";
        else
            name += c;
    }
    return name;
}

// An answer too long for any name, shown by its first 64 bytes (not ending
// inside a UTF-8 sequence) and an ellipsis.
std::string shown_start(const std::string& answer) {
    std::size_t size = std::min<std::size_t>(answer.size(), 64);
    for (int back = 0; back < 3 && size < answer.size() && (answer[size] & 0xc0) == 0x80; ++back)
        --size;
    return name_of(answer.substr(0, size)) + "\xe2\x80\xa6";
}

} // namespace

void say(session& s, std::string_view text) {
    put(s.console, text);
}

void line_end(session& s) {
    put_char(s.console, '\n');
    flush(s.console);
}

void flush_console(session& s) {
    flush(s.console);
}

void say_problem(session& s, std::string_view doing, std::string_view name) {
    say(s, "\aPROBLEM ");
    say(s, doing);
    say(s, " THE FILE ");
    say(s, name);
    say(s, ".");
    line_end(s);
}

const std::string& read_reply(session& s) {
    reply_reader& replies = s.replies;
    replies.word.clear();
    replies.too_long = false;
    char c = 0;
    while (peek(replies, c) && is_blank(c))
        ++replies.begin;
    while (peek(replies, c) && !is_blank(c)) {
        if (replies.word.size() < platform::longest_name)
            replies.word.push_back(c);
        else
            replies.too_long = true;
        ++replies.begin;
    }
    // A word that the end of the input ends is still an answer.
    if (replies.word.empty()) halt_at_end_of_answers(s);
    return replies.word;
}

char read_reply_letter(session& s) {
    return upper(read_reply(s).front());
}

void ask_input_file(session& s) {
    for (;;) {
        say(s, "Name of input file (GenBank file): ");
        flush_console(s);
        // A name longer than the system takes is refused as the system
        // would refuse it.
        const std::string& answer = read_reply(s);
        const bool too_long = s.replies.too_long;
        s.settings.input_name = too_long ? shown_start(answer) : name_of(answer);
        const int fd = too_long ? -1 : platform::open_input(s.settings.input_name, true);
        if (fd >= 0) {
            platform::close_file(fd);
            return;
        }
        say_problem(s, "OPENING", s.settings.input_name);
        say(s, "THE FILE MAY NOT EXIST.");
        line_end(s);
        say(s, "TYPE Q <enter> TO QUIT");
        line_end(s);
        say(s, "OR TYPE C <enter> TO CONTINUE.> ");
        flush_console(s);
        for (char letter = 0; letter != 'C';) {
            letter = read_reply_letter(s);
            if (letter == 'Q') halt(s);
        }
        say(s, "\n");
        line_end(s);
    }
}

void ask_output_file(session& s) {
    for (;;) {
        say(s, "\nName of output file(.t5 suffix added): ");
        flush_console(s);
        const std::string& answer = read_reply(s);
        const bool too_long = s.replies.too_long;
        s.settings.output_name = (too_long ? shown_start(answer) : name_of(answer)) + ".t5";
        if (!too_long &&
            platform::create_new_output(s.settings.output_name, s.settings.output_made))
            return;
        say(s, "\aTHE FILE ");
        say(s, s.settings.output_name);
        say(s, " MAY ALREADY EXIST.");
        line_end(s);
        say(s, "TYPE Q <enter> TO QUIT ");
        line_end(s);
        say(s, "OR N <enter> FOR NEW FILENAME.> ");
        flush_console(s);
        for (char letter = 0; letter != 'N';) {
            letter = read_reply_letter(s);
            if (letter == 'Q') halt(s);
        }
    }
}

} // namespace tq5
