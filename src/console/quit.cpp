// Ending the program before or instead of a completed run.
#include "console/session.hpp"
#include "platform/platform.hpp"

#include <algorithm>

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

namespace {

void say_records_kept(session& s, std::int64_t count) {
    if (count == 0) {
        say(s, "IT HOLDS NO RECORDS.");
    } else if (count == 1) {
        say(s, "IT HOLDS THE FIRST RECORD.");
    } else {
        say(s, "IT HOLDS THE FIRST ");
        put_number(s.console, count);
        say(s, " RECORDS.");
    }
    line_end(s);
}

} // namespace

std::int64_t keep_whole_records(session& s) {
    const std::vector<record_end>& ends = s.whole.ends;
    if (ends.empty()) return 0;
    // Without an open file (its close failed) nothing can be cut: the file
    // was handed every record.
    if (s.output_fd < 0) return ends.back().records;
    auto on_disk = [](const record_end& end) {
        return end.bytes + (platform::line_feed_takes_two ? end.line_feeds : 0);
    };
    // The first end is in the file for certain; a later one if the file
    // reaches it.  A failed write may have left part of its bytes there.
    const std::int64_t size = platform::file_size(s.output_fd);
    const record_end* keep = &ends.front();
    for (const record_end& end : ends)
        if (on_disk(end) <= size) keep = &end;
    if (size < 0 || on_disk(*keep) <= size) platform::cut_file(s.output_fd, on_disk(*keep));
    // Progress items still waiting in the console's buffer stop at the last
    // record kept.
    const std::int64_t shown = s.console.handed;
    if (keep->console_bytes >= shown)
        s.console.used =
            std::min(s.console.used, static_cast<std::size_t>(keep->console_bytes - shown));
    return keep->records;
}

void fail_writing(session& s) {
    stop_reading(s);
    const std::int64_t kept = keep_whole_records(s);
    // The progress line is still open: the message starts on a line of its own.
    line_end(s);
    say_problem(s, "WRITING", s.settings.output_name);
    say(s, "THE RECORD FILE IS INCOMPLETE.");
    line_end(s);
    say_records_kept(s, kept);
    platform::end_process(1);
}

void fail_reading(session& s) {
    // Whatever was extracted before the error goes to disk first; the record
    // that the error broke off is then cut away.
    flush(s.record);
    stop_reading(s);
    const std::int64_t kept = keep_whole_records(s);
    line_end(s);
    say_problem(s, "READING", s.settings.input_name);
    say_records_kept(s, kept);
    platform::end_process(1);
}

} // namespace tq5
