#include "extract/record_file.hpp"

namespace tq5 {

void put_line_end(out_sink& sink) {
    put_char(sink, '\n');
}

void put_location_start(out_sink& record) {
    put(record, "#CDS=");
}

void put_location_fragment(out_sink& record, std::string_view fragment) {
    put(record, fragment);
}

void put_name(out_sink& record, std::string_view value) {
    put(record, "#gene=");
    for (std::size_t quote; (quote = value.find('"')) != value.npos;) {
        put(record, value.substr(0, quote));
        value.remove_prefix(quote + 1);
    }
    put(record, value);
    put_line_end(record);
}

void put_unknown_name(out_sink& record, std::int64_t number) {
    put(record, "#gene=unknown");
    put_number(record, number);
    put_line_end(record);
}

void put_trailer(out_sink& record, std::string_view input_name, std::int64_t record_number) {
    put(record, "#file=");
    put(record, input_name);
    put_line_end(record);
    put(record, "#contig=");
    put_number(record, record_number);
    put_line_end(record);
    put(record, "********************");
    put_line_end(record);
}

} // namespace tq5
