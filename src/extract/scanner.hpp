// The feature-table scanner: one pass over a GenBank flat file that finds the
// CDS features, their locations and their names.
//
// Every decision is a plain, case-sensitive substring test on the current
// line.  A record's feature table opens with a line containing "FEATURES",
// a CDS feature starts on a line containing "  CDS  ", its location goes on
// over the following lines without a "/", its qualifiers stand on lines with
// a "/", and a line containing "ORIGIN" opens the record's sequence data.
#pragma once

#include "extract/line_reader.hpp"
#include "extract/out_sink.hpp"

#include <cstdint>
#include <string_view>

namespace tq5 {

struct scan_state {
    text_line line;                 // the current line
    std::int64_t record_number = 1; // GenBank record being scanned, from 1
    std::int64_t cds_count = 0;     // CDS records written
    std::int64_t unknown_count = 1; // the number of the next "unknown" name
    int running = 1;                // cleared when the input ends
    int first_scan = 1;             // cleared by the first call
    int cds_pending = 0;            // `line` holds the next CDS line already
};

// The streams the scanner works on, and the input name for "#file=".
struct scan_io {
    line_reader& input;
    out_sink& record;
    out_sink& console;
    std::string_view input_name;
};

// Finds the next CDS feature and writes its record, or clears `running` at
// the end of the input.
void scan_next_cds(scan_state& state, scan_io& io);

// The part of `line` from its first character of "cj<(0123456789" on: what
// a feature line contributes to the location.  Empty if there is none.
std::string_view location_fragment(std::string_view line);

// For a line holding one of the naming qualifiers (tested in the order
// "/gene", "/label", "/locus_tag", "/product"), the position one character
// past the qualifier text (just after the "=" of a usual qualifier), else
// npos.  The position may lie at or past the end of the line.
std::size_t naming_value_start(std::string_view line);

} // namespace tq5
