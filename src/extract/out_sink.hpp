// Buffered output for the record file and the console.
//
// Bytes collect in a fixed buffer and are handed to the target when the
// buffer is full or when `flush` is called.  A target that fails to take
// them marks the sink failed; from then on its output is dropped, and the
// sink's `write_failed` hook (if any) is called once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tq5 {

inline constexpr std::size_t default_sink_size = 64 * 1024;

struct byte_target {
    // Writes all `size` bytes; false if they could not all be written.
    bool (*write)(void* context, const char* data, std::size_t size) = nullptr;
    void* context = nullptr;
};

struct out_sink {
    byte_target target;
    void (*write_failed)(void* context) = nullptr;
    void* hook_context = nullptr;
    std::vector<char> buffer;
    std::size_t used = 0;
    std::int64_t handed = 0; // bytes the target has taken so far
    bool failed = false;
};

void start_sink(out_sink& sink, byte_target target, std::size_t size = default_sink_size);

// Hands everything buffered to the target; false if the sink has failed.
bool flush(out_sink& sink);

void put(out_sink& sink, std::string_view text);
void put_char(out_sink& sink, char c);
void put_number(out_sink& sink, std::int64_t value);

} // namespace tq5
