// tq5: writes the CDS features of a GenBank flat file to a .t5 record file.
#include "console/session.hpp"
#include "platform/platform.hpp"

namespace {

bool write_console(void* context, const char* data, std::size_t size) {
    // During a run the record file takes what it holds first: the progress
    // items never reach the screen ahead of their records.
    auto& s = *static_cast<tq5::session*>(context);
    if (s.output_fd >= 0) tq5::flush(s.record);
    // Nothing sensible can be done about a console that takes no output.
    tq5::platform::write_console(data, size);
    return true;
}

// One instance for the whole process: its buffers are too big for the stack.
tq5::session the_session;

} // namespace

int main() {
    tq5::platform::prepare_process();
    tq5::session& s = the_session;
    tq5::start_sink(s.console, {write_console, &s}, 16 * 1024);
    tq5::show_menu(s);
    tq5::run_extraction(s);
    tq5::platform::end_process(0);
}
