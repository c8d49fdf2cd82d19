// A fuzz target without libFuzzer: `check` is called with the bytes of
// every regular file below the folders given on the command line.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

template <typename Check> int replay_files(int argc, char** argv, Check check) {
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i])) {
            if (!entry.is_regular_file()) continue;
            std::ostringstream bytes;
            bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
            check(bytes.str());
            ++files;
        }
    }
    std::printf("%d inputs checked\n", files);
    return files > 0 ? 0 : 1;
}
