// The line reader and the scanner on arbitrary bytes: the reader's lines and
// read_until are those of a plain reading of the text rule, also in blocks of
// 402 to 702 bytes and reads of 1 to 64 (the first byte chooses); the scan ends,
// gives the same in small blocks, and writes whole records, one progress item
// each.  Built with TQ5_REPLAY: every file of the folders given, many blocks.
#include "extract/scanner.hpp"

#include "common.hpp"

namespace {

bool append(void* context, const char* data, std::size_t size) {
    static_cast<std::string*>(context)->append(data, size);
    return true;
}

// Reads `data` with the reader and with the plain reading, each call of
// `plan` in turn: '-' reads a line, a digit searches for texts[digit].
void check_reading(std::string_view data, std::string_view plan, std::size_t block,
                   std::size_t most) {
    static constexpr std::string_view texts[][2] = {
        {"FEATURES", ""}, {"ORIGIN", "  CDS  "}, {"  CDS  ", ""}, {"\r", ""}, {"x", "FEATURES"}};
    memory_file source{data, most};
    tq5::line_reader reader;
    tq5::start_reading(reader, {read_memory, &source}, {}, block);
    // The text rule, one byte at a time: the next piece's text, up to a NUL,
    // and whether the input (up to the first byte 26) is at its end after it.
    const std::string_view rule = data.substr(0, data.find('\x1a'));
    std::size_t at = 0;
    bool at_end = false;
    const auto plain = [&](std::string& text) {
        text.clear();
        while (!at_end && text.size() < tq5::line_piece_limit) {
            at_end = at == rule.size();
            if (at_end) break;
            const char c = rule[at++];
            if (c == '\n') break;
            if (c != '\r' || at == rule.size() || rule[at] != '\n') text += c;
        }
        text.resize(std::min(text.size(), text.find('\0')));
        return at_end;
    };
    tq5::text_line line;
    std::string text;
    std::size_t call = 0;
    do {
        const char c = plan[call++ % plan.size()];
        bool got = false, wanted = false;
        if (c == '-') {
            got = tq5::read_line(reader, line);
            wanted = plain(text);
        } else {
            const auto& [first, second] = texts[c - '0'];
            got = tq5::read_until(reader, line, first, second);
            do {
                wanted = !plain(text);
            } while (wanted && text.find(first) == text.npos &&
                     (second.empty() || text.find(second) == text.npos));
        }
        check(got == wanted && line.view() == text && reader.at_end == at_end,
              "the reader differs from the plain reading");
    } while (!at_end);
}

struct scan_result {
    std::string record, console;
    tq5::scan_state state;
};

// Whole records: "#CDS=", one or two "#gene=" lines, "#file=in.gb",
// "#contig=" with a number that never falls, 20 asterisks.
void check_records(const scan_result& r) {
    std::string_view rest = r.record, progress = r.console;
    std::int64_t count = 0, contig = 1;
    auto line = [&rest](std::string_view start) {
        const std::size_t end = rest.find('\n');
        check(end != rest.npos && rest.substr(0, start.size()) == start, "a record is not whole");
        const std::string_view text = rest.substr(start.size(), end - start.size());
        rest.remove_prefix(end + 1);
        return text;
    };
    while (!rest.empty()) {
        line("#CDS=");
        line("#gene=");
        if (rest.starts_with("#gene=")) line("#gene=unknown");
        check(line("#file=in.gb").empty(), "a record is not whole");
        const std::int64_t number = std::atoll(std::string(line("#contig=")).c_str());
        check(number >= contig, "a record number falls");
        contig = number;
        check(line("********************").empty(), "a record is not whole");
        const std::string item = "CDS " + std::to_string(++count) + "  ";
        check(progress.substr(0, item.size()) == item, "a progress item is missing");
        progress.remove_prefix(item.size());
    }
    check(progress.empty() && r.state.cds_count == count, "progress without a record");
}

scan_result scan(std::string_view data, std::size_t block, std::size_t most) {
    scan_result r;
    memory_file source{data, most};
    tq5::line_reader reader;
    tq5::start_reading(reader, {read_memory, &source}, {}, block);
    tq5::out_sink record, console;
    tq5::start_sink(record, {append, &r.record}, 256);
    tq5::start_sink(console, {append, &r.console}, 256);
    tq5::scan_io io{reader, record, console, "in.gb"};
    for (std::size_t calls = 0; r.state.running != 0; ++calls) {
        check(calls <= data.size() + 2, "the scan does not end");
        tq5::scan_next_cds(r.state, io);
    }
    tq5::flush(record);
    tq5::flush(console);
    check_records(r);
    return r;
}

void check_blocks(std::string_view data, const scan_result& whole, std::size_t block,
                  std::size_t most) {
    for (const std::string_view plan : {"-", "0", "1", "2", "3", "4", "-1-2", "01-1-34"})
        check_reading(data, plan, block, most);
    const scan_result small = scan(data, block, most);
    check(small.record == whole.record && small.console == whole.console &&
              small.state.record_number == whole.state.record_number &&
              small.state.unknown_count == whole.state.unknown_count,
          "small blocks give another scan");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const unsigned selector = size > 0 ? bytes[0] : 0;
    const scan_result whole = scan(data, tq5::default_block_size, SIZE_MAX);
    check_blocks(data, whole, data.size() + 402, SIZE_MAX);
    check_blocks(data, whole, 402 + selector / 64 * 100, 1 + selector % 64);
    return 0;
}

#ifdef TQ5_REPLAY
int main(int argc, char** argv) {
    return replay_files(argc, argv, [](const std::string& data) {
        const scan_result whole = scan(data, tq5::default_block_size, SIZE_MAX);
        // Every block size from the least on for small inputs, fewer for large ones.
        for (std::size_t block = 402; block < 702; block += 1 + data.size() / 1024)
            check_blocks(data, whole, block, block % 3 == 0 ? 1 + block % 64 : SIZE_MAX);
    });
}
#endif
