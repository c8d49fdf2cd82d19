// The zstd, xz and bzip2 readers on the text that fuzz_gzip.cpp compresses:
// in two frames or streams cut where the second byte says, then by the first
// byte intact, cut short, a byte flipped or a byte of garbage after them.  The
// program's reader must give the verdict of the library's one-shot decoding
// and, where that decodes, its text (so intact data comes back whole); a file
// cut short fails with the start of the text.  Included by fuzz_gzip.cpp.
#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

namespace {

using format = tq5::compressed_format;

std::string compressed(format f, std::string_view text) {
    const auto* in = reinterpret_cast<const std::uint8_t*>(text.data());
    std::string out(text.size() * 2 + 1024, '\0');
    std::size_t size = 0;
    if (f == format::zstd) size = ZSTD_compress(out.data(), out.size(), in, text.size(), 1);
    if (f == format::xz)
        lzma_easy_buffer_encode(0, LZMA_CHECK_CRC32, nullptr, in, text.size(),
                                reinterpret_cast<std::uint8_t*>(out.data()), &size, out.size());
    if (f == format::bzip2) {
        auto made = static_cast<unsigned>(out.size());
        BZ2_bzBuffToBuffCompress(out.data(), &made, const_cast<char*>(text.data()),
                                 static_cast<unsigned>(text.size()), 1, 0, 0);
        size = made;
    }
    out.resize(size);
    return out;
}

// The library's one-shot decoding of `file` into `text`: false where it finds
// the file bad.  bzip2 stream by stream: to `first`, to `both`, the rest.
bool one_shot(format f, std::string_view file, std::size_t first, std::size_t both,
              std::size_t room, std::string& text) {
    text.assign(room, '\0');
    if (f == format::zstd) {
        const std::size_t size = ZSTD_decompress(text.data(), room, file.data(), file.size());
        if (ZSTD_isError(size)) return false;
        text.resize(size);
        return true;
    }
    if (f == format::xz) {
        std::uint64_t memory = UINT64_MAX;
        std::size_t in = 0, out = 0;
        const lzma_ret ret = lzma_stream_buffer_decode(
            &memory, LZMA_CONCATENATED, nullptr, reinterpret_cast<const std::uint8_t*>(file.data()),
            &in, file.size(), reinterpret_cast<std::uint8_t*>(text.data()), &out, room);
        text.resize(out);
        return ret == LZMA_OK;
    }
    std::string all;
    std::size_t at = 0;
    for (std::size_t end : {first, both, file.size()}) {
        end = std::min(end, file.size());
        auto made = static_cast<unsigned>(room);
        if (end == at) continue;
        if (BZ2_bzBuffToBuffDecompress(text.data(), &made, const_cast<char*>(file.data()) + at,
                                       static_cast<unsigned>(end - at), 0, 0) != BZ_OK)
            return false;
        all.append(text, 0, made);
        at = end;
    }
    text = all;
    return true;
}

void check_formats(std::string_view text, unsigned mode, unsigned second, std::size_t per_read,
                   std::size_t request, const tq5::compressed_options& options) {
    const std::size_t cut = text.size() * second / 256;
    const unsigned damage = (mode / 2) % 4; // intact, cut short, a byte flipped, garbage
    for (const format f : {format::zstd, format::xz, format::bzip2}) {
        std::string file = compressed(f, text.substr(0, cut));
        const std::size_t first = file.size();
        file += compressed(f, text.substr(cut));
        const std::size_t both = file.size();
        if (damage == 1) file.resize(both * (second % 8) / 8);
        if (damage == 2) file[(mode * 131 + second * 7) % both] ^= 0x20;
        if (damage == 3) file += static_cast<char>(second);
        std::string reference;
        const bool sound = one_shot(f, file, first, both, text.size() * 2 + 4096, reference);
        const bool told = tq5::format_of(file.substr(0, tq5::format_head_size)) == f;
        check(told || damage != 0, "an intact file not told by its first bytes");
        if (!told) continue;
        const outcome got = threaded(f, file, false, per_read, request, options);
        if (damage == 1 && file.size() != first)
            check(got.end == -1 && text.starts_with(got.text), "formats: cut short");
        check(got.end == (sound ? 0 : -1), "formats: another verdict than the library's");
        check(!sound || got.text == reference, "formats: another text than the library's");
    }
}

} // namespace
