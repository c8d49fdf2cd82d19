#include "extract/scanner.hpp"

#include "extract/record_file.hpp"

namespace tq5 {

namespace {

constexpr std::string_view features_text = "FEATURES";
constexpr std::string_view origin_text = "ORIGIN";
constexpr std::string_view cds_text = "  CDS  ";
constexpr std::string_view base_count_text = "BASE COUNT";

constexpr std::string_view naming_qualifiers[] = {"/gene", "/label", "/locus_tag", "/product"};

void put_next_unknown(scan_state& state, scan_io& io) {
    put_unknown_name(io.record, state.unknown_count);
    ++state.unknown_count;
}

// Writes the "#CDS=" line: the fragment of the CDS line, then those of the
// lines after it up to the first line with a "/", which is left in `line`.
void scan_location(scan_state& state, scan_io& io) {
    put_location_start(io.record);
    put_location_fragment(io.record, location_fragment(state.line.view()));
    for (;;) {
        // The line whose read meets the end of the input is still looked at;
        // after it the location ends as if a qualifier line had come.
        const bool at_end = read_line(io.input, state.line);
        if (state.line.contains("/")) break;
        put_location_fragment(io.record, location_fragment(state.line.view()));
        if (at_end) break;
    }
    put_line_end(io.record);
}

// Writes the "#gene=" line(s).  The search starts on the first qualifier
// line and does not stop at other features: it runs on until a naming
// qualifier, the next CDS line or a BASE COUNT line.
void scan_name(scan_state& state, scan_io& io) {
    for (;;) {
        const std::string_view text = state.line.view();
        const std::size_t start = naming_value_start(text);
        const bool named = start != text.npos;
        if (named) {
            put_name(io.record, start < text.size() ? text.substr(start) : std::string_view{});
        } else {
            if (io.input.at_end) {
                // Nothing more to read: the CDS keeps no name.
                put_next_unknown(state, io);
                return;
            }
            read_line(io.input, state.line);
        }
        if (state.line.contains(cds_text)) {
            state.cds_pending = 1;
            put_next_unknown(state, io);
            return;
        }
        if (state.line.contains(base_count_text)) {
            put_next_unknown(state, io);
            return;
        }
        if (named) return;
    }
}

} // namespace

std::string_view location_fragment(std::string_view line) {
    const std::size_t first = line.find_first_of("cj<(0123456789");
    return first == line.npos ? std::string_view{} : line.substr(first);
}

std::size_t naming_value_start(std::string_view line) {
    for (const std::string_view qualifier : naming_qualifiers) {
        const std::size_t at = line.find(qualifier);
        if (at != line.npos) return at + qualifier.size() + 1;
    }
    return line.npos;
}

void scan_next_cds(scan_state& state, scan_io& io) {
    if (state.first_scan != 0) {
        state.first_scan = 0;
        if (!read_until(io.input, state.line, features_text)) {
            state.running = 0;
            return;
        }
    }

    bool found = false;
    while (state.running != 0 && !found) {
        bool have_line = false;
        if (state.cds_pending != 0) {
            state.cds_pending = 0;
            have_line = !io.input.at_end;
        } else {
            have_line = read_until(io.input, state.line, origin_text, cds_text);
        }
        if (!have_line) {
            state.running = 0;
            break;
        }
        if (state.line.contains(origin_text)) {
            // The sequence data, the record's end and the next record's
            // header are skipped; the next FEATURES line is tested for a CDS.
            ++state.record_number;
            if (!read_until(io.input, state.line, features_text)) {
                state.running = 0;
                break;
            }
        }
        if (state.line.contains(cds_text)) {
            found = true;
            scan_location(state, io);
            scan_name(state, io);
        }
    }

    if (state.running != 0) {
        ++state.cds_count;
        put(io.console, "CDS ");
        put_number(io.console, state.cds_count);
        put(io.console, "  ");
        put_trailer(io.record, io.input_name, state.record_number);
    }
}

} // namespace tq5
