// What both fuzz targets use: a file in memory, the check that aborts, and
// replay_files, which runs a target without libFuzzer on every regular file
// below the folders given on the command line.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

struct memory_file {
    std::string_view data;
    std::size_t most_per_read = SIZE_MAX;
    bool fails = false;          // a read error where the data ends
    std::string_view all = data; // what going back to the start gives
};

std::int64_t read_memory(void* context, char* buffer, std::size_t capacity) {
    auto& file = *static_cast<memory_file*>(context);
    if (file.fails && file.data.empty()) return -1;
    const std::size_t count = std::min({capacity, file.most_per_read, file.data.size()});
    if (count > 0) std::memcpy(buffer, file.data.data(), count);
    file.data.remove_prefix(count);
    return static_cast<std::int64_t>(count);
}

void check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

template <typename Check> int replay_files(int argc, char** argv, Check check) {
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i])) {
            if (!entry.is_regular_file()) continue;
            std::ifstream file(entry.path(), std::ios::binary);
            check(std::string(std::istreambuf_iterator<char>(file), {}));
            ++files;
        }
    }
    std::printf("%d inputs checked\n", files);
    return files > 0 ? 0 : 1;
}

} // namespace
