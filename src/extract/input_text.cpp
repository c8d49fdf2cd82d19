#include "extract/input_text.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tq5 {

namespace {

std::int64_t read_text(void* context, char* buffer, std::size_t capacity) {
    auto& input = *static_cast<input_text*>(context);
    const byte_source file = input.file;
    if (!input.head_read) {
        while (input.head_size < input.head.size()) {
            const std::int64_t got = file.read(file.context, input.head.data() + input.head_size,
                                               input.head.size() - input.head_size);
            if (got < 0) return -1;
            if (got == 0) break;
            input.head_size += static_cast<std::size_t>(got);
        }
        input.head_read = true;
        const std::string_view head(input.head.data(), input.head_size);
        const compressed_format format = format_of(head);
        if (format != compressed_format::plain)
            input.compressed = open_compressed_reader(format, file, head, input.options);
    }
    if (input.compressed) return input.compressed->read(buffer, capacity);
    if (input.head_handed < input.head_size) {
        const std::size_t count = std::min(capacity, input.head_size - input.head_handed);
        std::memcpy(buffer, input.head.data() + input.head_handed, count);
        input.head_handed += count;
        return static_cast<std::int64_t>(count);
    }
    return file.read(file.context, buffer, capacity);
}

} // namespace

void open_input_text(input_text& input, byte_source file, const compressed_options& options) {
    close_input_text(input);
    input = input_text{};
    input.file = file;
    input.options = options;
}

byte_source text_of(input_text& input) {
    return {read_text, &input};
}

void close_input_text(input_text& input) {
    input.compressed.reset();
}

} // namespace tq5
