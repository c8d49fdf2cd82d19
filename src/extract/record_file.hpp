// Writing the CDS record file: five lines per CDS feature.
//
//   #CDS=<location as written in the feature table, pieces joined>
//   #gene=<name>            or  #gene=unknown<n>
//   #file=<input file name as typed>
//   #contig=<number of the GenBank record>
//   ********************
#pragma once

#include "extract/out_sink.hpp"

#include <cstdint>
#include <string_view>

namespace tq5 {

void put_line_end(out_sink& sink);

void put_location_start(out_sink& record);
void put_location_fragment(out_sink& record, std::string_view fragment);

// "#gene=" and the qualifier value `value` with every double quote dropped.
void put_name(out_sink& record, std::string_view value);
void put_unknown_name(out_sink& record, std::int64_t number);

void put_trailer(out_sink& record, std::string_view input_name, std::int64_t record_number);

} // namespace tq5
