// Runs the scanner over bytes in memory, the way the program runs it over a
// file, and collects the record file and the console output.
#pragma once

#include "extract/line_reader.hpp"
#include "extract/out_sink.hpp"
#include "extract/scanner.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace tq5::testing {

struct memory_source {
    std::string_view data;
    std::size_t offset = 0;
    std::size_t most_per_read = 0; // 0: as much as asked for
    int reads = 0;
};

inline std::int64_t read_memory(void* context, char* buffer, std::size_t capacity) {
    auto& source = *static_cast<memory_source*>(context);
    ++source.reads;
    std::size_t count = std::min(capacity, source.data.size() - source.offset);
    if (source.most_per_read != 0) count = std::min(count, source.most_per_read);
    std::memcpy(buffer, source.data.data() + source.offset, count);
    source.offset += count;
    return static_cast<std::int64_t>(count);
}

inline bool append_to_string(void* context, const char* data, std::size_t size) {
    static_cast<std::string*>(context)->append(data, size);
    return true;
}

struct extraction_result {
    std::string record;
    std::string console;
    scan_state state;
};

// `block_size` and `most_per_read` force small blocks and short reads, so
// that lines fall across block boundaries.
inline extraction_result extract(std::string_view input, std::string_view input_name = "in.gb",
                                 std::size_t block_size = default_block_size,
                                 std::size_t most_per_read = 0) {
    extraction_result result;
    memory_source source{input, 0, most_per_read};
    line_reader reader;
    start_reading(reader, {read_memory, &source}, {}, block_size);
    out_sink record;
    start_sink(record, {append_to_string, &result.record}, 256);
    out_sink console;
    start_sink(console, {append_to_string, &result.console}, 256);
    scan_io io{reader, record, console, input_name};
    while (result.state.running != 0)
        scan_next_cds(result.state, io);
    flush(record);
    flush(console);
    return result;
}

// One CDS record as the record file holds it.
inline std::string cds_record(std::string_view location, std::string_view name,
                              std::string_view file, long contig) {
    return "#CDS=" + std::string(location) + "\n#gene=" + std::string(name) +
           "\n#file=" + std::string(file) + "\n#contig=" + std::to_string(contig) +
           "\n********************\n";
}

} // namespace tq5::testing
