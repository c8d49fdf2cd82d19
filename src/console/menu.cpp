// The start-up banner and the one-screen set-up menu.
#include "console/session.hpp"

#include <new>

namespace tq5 {

namespace {

void clear_screen(session& s) {
    for (int i = 0; i < 50; ++i)
        line_end(s);
}

void set_up(session& s) {
    clear_screen(s);
    say(s, "TQ5_v1: CDS features of a GenBank file to a .t5 record file\n");
    line_end(s);

    bool ask_input = true;
    bool ask_output = true;
    for (;;) {
        if (ask_input) {
            ask_input = false;
            ask_input_file(s);
        }
        if (ask_output) {
            ask_output = false;
            ask_output_file(s);
        }
        clear_screen(s);
        say(s, "I  Input file:       ");
        say(s, s.settings.input_name);
        line_end(s);
        say(s, "O  Output file:      ");
        say(s, s.settings.output_name);
        line_end(s);
        say(s, "\nType the letter associated with the");
        line_end(s);
        say(s, "menu item you wish to change.");
        line_end(s);
        say(s, "\nType G<enter> to run the program or Q<enter> to quit. > ");
        flush_console(s);

        char letter = 0;
        for (;;) {
            letter = read_reply_letter(s);
            if (letter == 'Q') halt(s);
            if (letter == 'G' || letter == 'I' || letter == 'O') break;
            flush_console(s);
        }
        if (letter == 'G') return;
        if (letter == 'I') ask_input = true;
        if (letter == 'O') ask_output = true;
    }
}

} // namespace

void show_menu(session& s) {
    // Without the memory for a name the set-up cannot go on: it ends as it
    // does when the answers end, with a message and status 1.
    try {
        set_up(s);
    } catch (const std::bad_alloc&) {
        halt_at_end_of_answers(s);
    }
}

} // namespace tq5
