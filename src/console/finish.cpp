// The extraction run and its completion.
#include "console/session.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <new>

namespace tq5 {

namespace {

std::int64_t read_file(void* context, char* buffer, std::size_t capacity) {
    return platform::read_some(static_cast<session*>(context)->input_fd, buffer, capacity);
}

bool rewind_input(void* context) {
    auto& s = *static_cast<session*>(context);
    if (!platform::rewind_file(s.input_fd)) return false;
    s.text.file_at = 0;
    return true;
}

bool write_to(int fd, const char* data, std::size_t size) {
    return platform::write_all(fd, data, size);
}

// Only where a line feed takes two bytes on disk are they counted.
std::int64_t count_line_feeds(const char* begin, const char* end) {
    return platform::line_feed_takes_two ? std::count(begin, end, '\n') : 0;
}

bool write_record(void* context, const char* data, std::size_t size) {
    auto& s = *static_cast<session*>(context);
    if (!write_to(s.output_fd, data, size)) return false;
    // The sink hands over all it holds: every record end noted so far is now
    // in the file, and only the last one can still be the place to cut back to.
    s.whole.handed_line_feeds += count_line_feeds(data, data + size);
    s.whole.ends.front() = s.whole.ends.back();
    s.whole.ends.resize(1);
    return true;
}

// The scanner has just put the trailer of a record.  The line feeds are
// counted once: those of bytes already handed to the file on their way out,
// the others here, from the last record end on.
void note_record_end(session& s) {
    const record_end& last = s.whole.ends.back();
    const out_sink& record = s.record;
    const char* buffer = record.buffer.data();
    const bool last_in_buffer = last.bytes >= record.handed;
    const char* from = last_in_buffer ? buffer + (last.bytes - record.handed) : buffer;
    record_end next;
    next.bytes = record.handed + static_cast<std::int64_t>(record.used);
    next.line_feeds = (last_in_buffer ? last.line_feeds : s.whole.handed_line_feeds) +
                      count_line_feeds(from, buffer + record.used);
    next.records = s.scan.cds_count;
    next.console_bytes = s.console.handed + static_cast<std::int64_t>(s.console.used);
    s.whole.ends.push_back(next);
}

// Before the program asks for the next block of the input, everything
// written so far, to the record file and to the console, goes to the system.
void before_fill(void* context) {
    auto& s = *static_cast<session*>(context);
    flush(s.record);
    flush(s.console);
}

void on_read_failed(void* context) {
    fail_reading(*static_cast<session*>(context));
}
void on_write_failed(void* context) {
    fail_writing(*static_cast<session*>(context));
}

void run(session& s) {
    s.input_fd = platform::open_input(s.settings.input_name, false);
    if (s.input_fd < 0) fail_opening(s, s.settings.input_name);
    s.output_fd = platform::open_output_for_run(s.settings.output_name, s.settings.output_made);
    if (s.output_fd < 0) fail_opening(s, s.settings.output_name);

    start_sink(s.record, {write_record, &s});
    s.record.write_failed = on_write_failed;
    s.record.hook_context = &s;
    record_end start;
    start.console_bytes = s.console.handed + static_cast<std::int64_t>(s.console.used);
    s.whole.ends.assign(1, start);
    s.whole.handed_line_feeds = 0;
    // The input's text is read with what the process may use: the CPUs it
    // may run on (a batch job's share, a CPU set) and its memory.  A file
    // that can be read again from its start may be, where its reading must
    // begin again; a pipe cannot.
    compressed_options options = text_options(platform::usable_cpus(), platform::memory_limit());
    if (platform::rewind_file(s.input_fd)) {
        options.rewind = rewind_input;
        options.rewind_context = &s;
    }
    open_input_text(s.text, {read_file, &s}, options);
    start_reading(s.input, text_of(s.text), {before_fill, on_read_failed, &s});

    s.scan = scan_state{};
    scan_io io{s.input, s.record, s.console, s.settings.input_name};
    while (s.scan.running != 0) {
        scan_next_cds(s.scan, io);
        if (s.scan.cds_count > s.whole.ends.back().records) note_record_end(s);
    }
    finish_run(s);
}

} // namespace

void run_extraction(session& s) {
    // Memory that the run cannot have ends it as a read failure: whole
    // records, the count line, status 1.
    try {
        run(s);
    } catch (const std::bad_alloc&) {
        fail_reading(s);
    }
}

void stop_reading(session& s) {
    // The input's text ends first: its reading uses the input file.
    close_input_text(s.text);
    if (s.input_fd >= 0) platform::close_file(s.input_fd);
    s.input_fd = -1;
}

void finish_run(session& s) {
    // The record file must be complete on disk before the run is called done.
    flush(s.record);
    // Done only if the whole file is sound, also after a Ctrl-Z.
    if (!finish_input_text(s.text)) fail_reading(s);
    stop_reading(s);
    if (!platform::flush_to_disk(s.output_fd)) fail_writing(s);
    const bool closed = platform::close_file(s.output_fd);
    s.output_fd = -1;
    if (!closed) fail_writing(s);

    say(s, "\nTQ5_v3 done.");
    line_end(s);
    say(s, "See file ");
    say(s, s.settings.output_name);
    say(s, " for details.");
    line_end(s);
}

} // namespace tq5
