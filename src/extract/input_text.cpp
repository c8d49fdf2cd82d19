#include "extract/input_text.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

namespace tq5 {

namespace {

// The file's bytes.  After a failed request, one block at a time, each
// ending at a multiple of the block size: then the bytes before the first
// block that fails are the same whatever size the readers above ask for.
std::int64_t read_file(void* context, char* buffer, std::size_t capacity) {
    auto& input = *static_cast<input_text*>(context);
    for (;;) {
        if (input.file_failed) return -1;
        std::size_t ask = capacity;
        if (input.block_by_block)
            ask = std::min(capacity,
                           device_block - static_cast<std::size_t>(input.file_at) % device_block);
        const std::int64_t got = input.file.read(input.file.context, buffer, ask);
        if (got >= 0) {
            input.file_at += got;
            return got;
        }
        // Within one block there is nothing smaller to try.
        const auto in_block = static_cast<std::size_t>(input.file_at) % device_block;
        if (in_block + ask <= device_block) input.file_failed = true;
        input.block_by_block = true;
    }
}

void open_decoder(input_text& input) {
    const std::string_view head(input.head.data(), input.head_size);
    const compressed_format format = format_of(head);
    if (format == compressed_format::plain) return;
    input.compressed = open_compressed_reader(format, {read_file, &input}, head, input.options);
    input.decoded = compressed_text(*input.compressed);
}

std::int64_t read_text(void* context, char* buffer, std::size_t capacity) {
    auto& input = *static_cast<input_text*>(context);
    if (input.out_of_memory) return -1;
    if (!input.head_read) {
        while (input.head_size < input.head.size()) {
            const std::int64_t got = read_file(&input, input.head.data() + input.head_size,
                                               input.head.size() - input.head_size);
            if (got < 0) return -1;
            if (got == 0) break;
            input.head_size += static_cast<std::size_t>(got);
        }
        input.head_read = true;
        try {
            open_decoder(input);
        } catch (const std::bad_alloc&) {
            input.out_of_memory = true;
            return -1;
        }
    }
    if (input.decoded.read != nullptr) {
        try {
            return input.decoded.read(input.decoded.context, buffer, capacity);
        } catch (const std::bad_alloc&) {
            input.out_of_memory = true;
            return -1;
        }
    }
    if (input.head_handed < input.head_size) {
        const std::size_t count = std::min(capacity, input.head_size - input.head_handed);
        std::memcpy(buffer, input.head.data() + input.head_handed, count);
        input.head_handed += count;
        return static_cast<std::int64_t>(count);
    }
    return read_file(&input, buffer, capacity);
}

} // namespace

compressed_options text_options(unsigned cpus, std::uint64_t memory_limit) {
    compressed_options options;
    options.threads = std::clamp(cpus, 1u, 4u);
    options.memory_limit = std::min(options.memory_limit, memory_limit / 4);
    return options;
}

void open_input_text(input_text& input, byte_source file, const compressed_options& options) {
    close_input_text(input);
    input = input_text{};
    input.file = file;
    input.options = options;
}

byte_source text_of(input_text& input) {
    return {read_text, &input};
}

bool finish_input_text(input_text& input) {
    if (input.out_of_memory) return false;
    if (input.decoded.read == nullptr) return true;
    std::array<char, 16 * 1024> rest{};
    for (;;) {
        const std::int64_t got = read_text(&input, rest.data(), rest.size());
        if (got <= 0) return got == 0;
    }
}

void close_input_text(input_text& input) {
    input.decoded = {};
    input.compressed.reset();
}

} // namespace tq5
