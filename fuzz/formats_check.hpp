// The zstd, xz and bzip2 readers in the gzip fuzz target: the input's text
// compressed here in two frames or streams, intact, cut short, a byte flipped
// or a byte of garbage after it (by `mode`).  The program's reader (threads,
// refused threads, reads and requests as fuzz_gzip.cpp picks them) must give
// the verdict of the library's one-shot decoding and, where that decodes, its
// text (so intact data comes back whole); a file cut short fails with the
// start of the text.  Included by fuzz_gzip.cpp after its helpers.
#include "compressed/compressed_reader.hpp"

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

namespace {

std::string zstd_frame(std::string_view text) {
    std::string out(ZSTD_compressBound(text.size()), '\0');
    out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 1));
    return out;
}
std::string xz_stream(std::string_view text) {
    std::string out(lzma_stream_buffer_bound(text.size()), '\0');
    std::size_t size = 0;
    lzma_easy_buffer_encode(0, LZMA_CHECK_CRC32, nullptr,
                            reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                            reinterpret_cast<std::uint8_t*>(out.data()), &size, out.size());
    out.resize(size);
    return out;
}
std::string bzip2_stream(std::string_view text) {
    std::string in(text);
    auto size = static_cast<unsigned>(text.size() + text.size() / 100 + 600);
    std::string out(size, '\0');
    BZ2_bzBuffToBuffCompress(out.data(), &size, in.data(), static_cast<unsigned>(in.size()), 1, 0,
                             0);
    out.resize(size);
    return out;
}

// The library's one-shot decoding of `file` of the text `text`: its text,
// or nothing and false where it finds the file bad.
bool one_shot(tq5::compressed_format format, std::string_view file, std::size_t room,
              const std::vector<std::size_t>& streams, std::string& text) {
    text.assign(room, '\0');
    if (format == tq5::compressed_format::zstd) {
        const std::size_t size = ZSTD_decompress(text.data(), room, file.data(), file.size());
        text.resize(ZSTD_isError(size) ? 0 : size);
        return ZSTD_isError(size) == 0;
    }
    if (format == tq5::compressed_format::xz) {
        std::uint64_t memory = UINT64_MAX;
        std::size_t in = 0;
        std::size_t out = 0;
        const lzma_ret ret = lzma_stream_buffer_decode(
            &memory, LZMA_CONCATENATED, nullptr, reinterpret_cast<const std::uint8_t*>(file.data()),
            &in, file.size(), reinterpret_cast<std::uint8_t*>(text.data()), &out, room);
        text.resize(ret == LZMA_OK ? out : 0);
        return ret == LZMA_OK;
    }
    // bzip2: each stream at once, where they were cut (the last part may be garbage).
    std::string all;
    std::size_t at = 0;
    for (const std::size_t size : streams) {
        std::string stream(file.substr(at, size));
        auto made = static_cast<unsigned>(room);
        if (stream.empty() ||
            BZ2_bzBuffToBuffDecompress(text.data(), &made, stream.data(),
                                       static_cast<unsigned>(stream.size()), 0, 0) != BZ_OK) {
            text.clear();
            return false;
        }
        all.append(text, 0, made);
        at += size;
    }
    text = all;
    return true;
}

void check_formats(std::string_view text, unsigned mode, unsigned second) {
    const std::size_t cut = text.size() * second / 256;
    const std::size_t per_read = 1 + mode % 64;
    const std::size_t request = 1 + mode / 4;
    tq5::compressed_options options;
    options.threads = 1 + mode % 3;
    const std::size_t starts = (mode / 2 + second) % 8;
    if (starts < 5) options.thread_limit = starts;
    using format = tq5::compressed_format;
    for (const format f : {format::zstd, format::xz, format::bzip2}) {
        std::string (*compress)(std::string_view) = f == format::zstd ? zstd_frame
                                                    : f == format::xz ? xz_stream
                                                                      : bzip2_stream;
        const std::string first = compress(text.substr(0, cut));
        std::string file = first + compress(text.substr(cut));
        std::vector<std::size_t> streams{first.size(), file.size() - first.size()};
        const unsigned damage = (mode / 2) % 4; // intact, cut short, a byte flipped, garbage
        if (damage == 1) {
            file.resize(file.size() * (second % 8) / 8);
            streams = {std::min(first.size(), file.size()),
                       file.size() - std::min(first.size(), file.size())};
            if (streams[1] == 0) streams.pop_back();
        }
        if (damage == 2) file[(mode * 131 + second * 7) % file.size()] ^= 0x20;
        if (damage == 3) {
            file += static_cast<char>(second);
            streams.push_back(1);
        }
        std::string reference;
        const bool sound = one_shot(f, file, text.size() * 2 + 4096, streams, reference);
        memory_file source{file, per_read};
        const std::string_view taken =
            std::string_view(file).substr(0, std::min(file.size(), tq5::format_head_size));
        source.data.remove_prefix(taken.size());
        const bool told = tq5::format_of(taken) == f;
        check(told || damage != 0, "an intact file not told by its first bytes");
        if (!told) continue;
        // The file can be read again from its start, as the program's input
        // can unless it is a pipe.
        struct rewound {
            memory_file* source;
            std::string_view whole;
        } again{&source, file};
        options.rewind_context = &again;
        options.rewind = [](void* context) {
            auto& r = *static_cast<rewound*>(context);
            r.source->data = r.whole;
            return true;
        };
        if (second % 2 != 0) options.rewind = nullptr;
        const auto reader = tq5::open_compressed_reader(f, {read_memory, &source}, taken, options);
        const outcome got = drain(tq5::compressed_text(*reader), request);
        if (damage == 1 && file.size() != first.size())
            check(got.end == -1 && text.starts_with(got.text), "formats: cut short");
        check(got.end == (sound ? 0 : -1), "formats: another verdict than the library's");
        check(!sound || got.text == reference, "formats: another text than the library's");
    }
}

} // namespace
