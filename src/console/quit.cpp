// Ending the program before or instead of a completed run.
#include "console/platform.hpp"
#include "console/session.hpp"

namespace tq5 {

void halt(session& s) {
    say(s, "TQ5_v3 halted.");
    line_end(s);
    platform::end_process(0);
}

// Standard input ended while a question waited: the set-up never finished.
void halt_at_end_of_answers(session& s) {
    line_end(s);
    say(s, "TQ5_v3 halted.");
    line_end(s);
    platform::end_process(1);
}

void fail_opening(session& s, const std::string& name) {
    say_problem(s, "OPENING", name);
    platform::end_process(1);
}

void fail_writing(session& s) {
    // The progress line is still open: the message starts on a line of its own.
    line_end(s);
    say_problem(s, "WRITING", s.settings.output_name);
    say(s, "THE RECORD FILE IS INCOMPLETE.");
    line_end(s);
    platform::end_process(1);
}

void fail_reading(session& s) {
    // Whatever was extracted before the error goes to disk first.
    flush(s.record);
    line_end(s);
    say_problem(s, "READING", s.settings.input_name);
    platform::end_process(1);
}

} // namespace tq5
