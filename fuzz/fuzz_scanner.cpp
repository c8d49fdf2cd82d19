// libFuzzer target: arbitrary bytes through the line reader and the scanner.
//
// The whole input is the GenBank file; its first byte also chooses a small
// block size and a short read length for the runs that exercise block
// boundaries.  Every check that fails aborts, so that libFuzzer keeps the
// input as a crash.  Checked on every input:
//   - the line reader gives the lines of a plain, byte-by-byte reading of the
//     text rule, read_until's search included, whatever the block size and
//     the read lengths;
//   - the scan ends: every call that does not end the run writes a record,
//     and no more calls are made than the input has bytes (plus two);
//   - the record file is a sequence of complete records: "#CDS=", one or two
//     "#gene=" lines, "#file=<name>", "#contig=<n>", 20 asterisks; no NUL and
//     no byte 26 in it; contig numbers start at 1 and never decrease;
//   - each call writes at most one record and, with it, exactly one progress
//     item "CDS n  ", counting 1, 2, 3 ...;
//   - the unknown names run 1, 2, 3 ... without gaps: a call that moves the
//     scanner's unknown counter on by one wrote "#gene=unknown<old value>"
//     as its last name line, a call that does not wrote one name line only;
//   - tiny blocks with short reads give exactly what the default block gives.
// The scanner is driven one call at a time, with a bound on the calls, at
// every block size, so that a scan that does not end is reported as such
// (and not only as a libFuzzer time-out).
#include "support/memory_io.hpp"
#include "support/reference_reader.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tq5::testing::extraction_result;
using tq5::testing::memory_source;

constexpr std::string_view input_name = "in.gb";

[[noreturn]] void violated(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz_scanner: %s", what);
    if (!detail.empty()) {
        std::fprintf(stderr, ": \"");
        for (const char c : detail.substr(0, 300)) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte >= 32 && byte < 127 && byte != '\\')
                std::fputc(byte, stderr);
            else
                std::fprintf(stderr, "\\x%02x", byte);
        }
        std::fprintf(stderr, "\"%s", detail.size() > 300 ? " ..." : "");
    }
    std::fprintf(stderr, "\n");
    std::abort();
}

void check(bool holds, const char* what, std::string_view detail = {}) {
    if (!holds) violated(what, detail);
}

// One reader for all runs: start_reading keeps its block's memory, and a
// fresh block of the default size on every run would cost more than the
// checks themselves.
tq5::line_reader& reused_reader() {
    static tq5::line_reader reader;
    return reader;
}

void check_line_reader(std::string_view data, std::size_t block_size, std::size_t most_per_read) {
    memory_source source{data, 0, most_per_read};
    tq5::line_reader& reader = reused_reader();
    tq5::start_reading(reader, {tq5::testing::read_memory, &source}, {}, block_size);
    tq5::testing::reference_reader plain(data);
    tq5::text_line line;
    std::string expected;
    for (std::size_t reads = 0;; ++reads) {
        check(reads <= data.size() + 2, "the line reader does not reach the end");
        const bool plain_ended = plain.read(expected);
        const bool ended = tq5::read_line(reader, line);
        check(ended == reader.at_end, "read_line's result differs from at_end");
        check(line.view() == expected, "a line differs from the text rule", line.view());
        check(ended == plain_ended, "the end of the input met at a different read");
        if (ended) break;
    }
    // Past the end every read stores an empty line.
    check(tq5::read_line(reader, line) && line.size == 0, "a read past the end is not empty");
    check(!reader.failed, "a memory source cannot fail");
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// A decimal number of at least 1, without sign, blanks or leading zeros.
bool parse_count(std::string_view digits, std::int64_t& value) {
    if (digits.empty() || digits.size() > 18 || digits[0] == '0') return false;
    value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

struct parsed_record {
    std::string_view location;
    std::vector<std::string_view> names; // the text after "#gene="
    std::int64_t contig = 0;
};

// Splits a record file into records; aborts unless it is a sequence of
// complete ones.
std::vector<parsed_record> parse_records(std::string_view file) {
    check(file.find('\0') == file.npos, "a NUL in the record file");
    check(file.find('\x1a') == file.npos, "a byte 26 in the record file");
    check(file.empty() || file.back() == '\n', "the record file ends inside a line");
    std::vector<std::string_view> lines;
    for (std::size_t from = 0; from < file.size();) {
        const std::size_t feed = file.find('\n', from);
        lines.push_back(file.substr(from, feed - from));
        from = feed + 1;
    }
    std::vector<parsed_record> records;
    std::size_t i = 0;
    auto line = [&](const char* what) {
        check(i < lines.size(), what);
        return lines[i++];
    };
    while (i < lines.size()) {
        parsed_record record;
        const std::string_view cds = line("no #CDS= line");
        check(starts_with(cds, "#CDS="), "a record does not start with #CDS=", cds);
        record.location = cds.substr(5);
        check(record.location.empty() ||
                  std::string_view("cj<(0123456789").find(record.location[0]) !=
                      std::string_view::npos,
              "a location starts outside the location set", cds);
        const std::string_view gene = line("no #gene= line");
        check(starts_with(gene, "#gene="), "no #gene= line after #CDS=", gene);
        record.names.push_back(gene.substr(6));
        check(i < lines.size(), "a record ends after its #gene= line");
        if (starts_with(lines[i], "#gene=")) record.names.push_back(line("").substr(6));
        check(line("no #file= line") == "#file=" + std::string(input_name), "bad #file= line",
              lines[i - 1]);
        const std::string_view contig = line("no #contig= line");
        check(starts_with(contig, "#contig=") && parse_count(contig.substr(8), record.contig),
              "bad #contig= line", contig);
        check(records.empty() || record.contig >= records.back().contig,
              "a contig number decreases", contig);
        check(line("no separator line") == "********************", "bad separator line",
              lines[i - 1]);
        records.push_back(record);
    }
    return records;
}

std::string progress(std::int64_t from, std::int64_t to) {
    std::string out;
    for (std::int64_t n = from; n <= to; ++n)
        out += "CDS " + std::to_string(n) + "  ";
    return out;
}

// Drives the scanner one call at a time, with the streams of memory_io.hpp,
// blocks of `block_size` and reads of at most `most_per_read` bytes (0: no
// limit), and checks what each call writes.
extraction_result step_by_step(std::string_view data, std::size_t block_size,
                               std::size_t most_per_read) {
    extraction_result result;
    memory_source source{data, 0, most_per_read};
    tq5::line_reader& reader = reused_reader();
    tq5::start_reading(reader, {tq5::testing::read_memory, &source}, {}, block_size);
    std::string record_piece;
    std::string console_piece;
    tq5::out_sink record;
    tq5::start_sink(record, {tq5::testing::append_to_string, &record_piece}, 256);
    tq5::out_sink console;
    tq5::start_sink(console, {tq5::testing::append_to_string, &console_piece}, 256);
    tq5::scan_io io{reader, record, console, input_name};
    tq5::scan_state& state = result.state;
    check(state.unknown_count == 1 && state.cds_count == 0 && state.record_number == 1,
          "unexpected initial scan values");

    for (std::size_t calls = 0; state.running != 0; ++calls) {
        check(calls <= data.size() + 2, "the scan does not end");
        const tq5::scan_state before = state;
        tq5::scan_next_cds(state, io);
        tq5::flush(record);
        tq5::flush(console);
        check(state.record_number >= before.record_number, "record_number decreases");
        if (state.running == 0) {
            check(record_piece.empty(), "the call that ends the run writes to the record file",
                  record_piece);
            check(console_piece.empty(), "the call that ends the run writes progress",
                  console_piece);
            check(state.unknown_count == before.unknown_count &&
                      state.cds_count == before.cds_count,
                  "the call that ends the run counts");
            break;
        }
        check(state.cds_count == before.cds_count + 1, "a record call does not count one CDS");
        check(console_piece == progress(state.cds_count, state.cds_count), "bad progress item",
              console_piece);
        const std::vector<parsed_record> written = parse_records(record_piece);
        check(written.size() == 1, "a call writes other than one record", record_piece);
        const parsed_record& one = written.front();
        check(one.contig == state.record_number, "#contig= is not the record number", record_piece);
        const std::int64_t unknowns = state.unknown_count - before.unknown_count;
        check(unknowns == 0 || unknowns == 1, "a call moves the unknown counter by more than one");
        if (unknowns == 1) {
            check(one.names.back() == "unknown" + std::to_string(before.unknown_count),
                  "the unknown name does not carry the next number", record_piece);
        } else {
            check(one.names.size() == 1, "a second name line that is no unknown name",
                  record_piece);
        }
        result.record += record_piece;
        result.console += console_piece;
        record_piece.clear();
        console_piece.clear();
    }
    return result;
}

bool same_state(const tq5::scan_state& a, const tq5::scan_state& b) {
    return a.record_number == b.record_number && a.cds_count == b.cds_count &&
           a.unknown_count == b.unknown_count && a.running == b.running &&
           a.first_scan == b.first_scan && a.cds_pending == b.cds_pending &&
           a.line.view() == b.line.view();
}

void check_same(const extraction_result& a, const extraction_result& b, const char* what) {
    check(a.record == b.record, what, "record file");
    check(a.console == b.console, what, "console");
    check(same_state(a.state, b.state), what, "scan state");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const unsigned selector = size > 0 ? bytes[0] : 0;
    // Reads of 1 to 64 bytes into blocks of 402 (the reader's least) to 702.
    const std::size_t most_per_read = 1 + selector % 64;
    const std::size_t small_block = 2 * (tq5::line_piece_limit + 1) + (selector / 64) * 100;

    // A block that takes the whole input at the first read reads it as the
    // default block does (inputs are at most a few KiB here), without a new
    // 256 KiB block for each of the reading plans.  The scan runs below use
    // the default block itself.
    const std::size_t whole_block = data.size() + 2 * (tq5::line_piece_limit + 1);

    check_line_reader(data, whole_block, 0);
    check_line_reader(data, small_block, most_per_read);
    for (const std::size_t block : {whole_block, small_block}) {
        const std::string difference =
            tq5::testing::first_difference(data, block, block == small_block ? most_per_read : 0);
        check(difference.empty(), "read_until differs from the byte-by-byte reading", difference);
    }

    // One call at a time first: it holds every call to its bound.
    const extraction_result calls = step_by_step(data, tq5::default_block_size, 0);
    const extraction_result whole = tq5::testing::extract(data, input_name);
    check(whole.state.running == 0, "extract returned while running");
    check_same(calls, whole, "one call at a time differs from extract");
    const std::vector<parsed_record> records = parse_records(whole.record);
    const auto count = static_cast<std::int64_t>(records.size());
    check(whole.state.cds_count == count, "cds_count differs from the number of records");
    check(whole.console == progress(1, count), "the progress items do not count the records",
          whole.console);
    std::int64_t unknown_lines = 0;
    for (const parsed_record& record : records) {
        if (record.names.size() == 2) ++unknown_lines;
        check(record.contig <= whole.state.record_number, "contig too high");
    }
    // Every record with two name lines holds one unknown name; others may.
    check(unknown_lines <= whole.state.unknown_count - 1 && whole.state.unknown_count - 1 <= count,
          "the unknown counter does not fit the record file");

    check_same(step_by_step(data, small_block, most_per_read), whole,
               "small blocks and short reads differ from the default block");
    check_same(step_by_step(data, 0, 1), whole,
               "the least block and reads of one byte differ from the default block");
    return 0;
}
