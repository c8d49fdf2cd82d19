// Where bytes come from: the input file, the text inflated from it.  Every
// reader of the program reads through this one call, and is one itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tq5 {

// `read` fills up to `capacity` bytes and returns how many it stored, 0 at
// the end of the data, or -1 on a read error.
struct byte_source {
    std::int64_t (*read)(void* context, char* buffer, std::size_t capacity) = nullptr;
    void* context = nullptr;
};

} // namespace tq5
