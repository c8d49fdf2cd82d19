// The compressed readers.  The first byte picks the sizes (reads of 1 to 64
// bytes, text requests, jobs, threads; with the second, threads refused after
// 0 to 4 starts) and the mode: odd, the rest is a compressed file; even, text
// compressed here.  Built with TQ5_REPLAY: every file of the folders given.
#include "compressed/compressed_reader.hpp"
#include "compressed/gzip_stream.hpp"

#include "common.hpp"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <numeric>
#include <optional>
#include <vector>

namespace {

using namespace std::literals;
using format = tq5::compressed_format;

std::string le16(std::size_t value) {
    return {static_cast<char>(value), static_cast<char>(value >> 8)};
}

// A gzip member of `text` as zlib writes it, or a BGZF member: the same with
// the extra field that gives the member's size less one.
std::string gzip_member(std::string_view text, bool bgzf) {
    z_stream z{};
    check(deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) == Z_OK, "deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    check(deflate(&z, Z_FINISH) == Z_STREAM_END, "deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    if (!bgzf) return out;
    out[3] = 4; // FEXTRA
    return out.insert(10, "\6\0BC\2\0"s + le16(out.size() + 7));
}

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

// The library's one-shot decoding of `file`, none where it finds the file
// bad.  bzip2 stream by stream: to `first`, to `both`, the rest.
std::optional<std::string> one_shot(format f, std::string_view file, std::size_t first,
                                    std::size_t both, std::size_t room) {
    std::string text(room, '\0');
    if (f == format::zstd) {
        const std::size_t size = ZSTD_decompress(text.data(), room, file.data(), file.size());
        return ZSTD_isError(size) ? std::nullopt : std::optional(text.substr(0, size));
    }
    if (f == format::xz) {
        std::uint64_t memory = UINT64_MAX;
        std::size_t in = 0, out = 0;
        const lzma_ret ret = lzma_stream_buffer_decode(
            &memory, LZMA_CONCATENATED, nullptr, reinterpret_cast<const std::uint8_t*>(file.data()),
            &in, file.size(), reinterpret_cast<std::uint8_t*>(text.data()), &out, room);
        return ret == LZMA_OK ? std::optional(text.substr(0, out)) : std::nullopt;
    }
    std::string all;
    std::size_t at = 0;
    for (std::size_t end : {first, both, file.size()}) {
        end = std::min(end, file.size());
        auto made = static_cast<unsigned>(room);
        if (end == at) continue;
        if (BZ2_bzBuffToBuffDecompress(text.data(), &made, const_cast<char*>(file.data()) + at,
                                       static_cast<unsigned>(end - at), 0, 0) != BZ_OK)
            return {};
        all.append(text, 0, made);
        at = end;
    }
    return all;
}

struct outcome {
    std::string text;
    std::int64_t end = 1;
};

// `text` read to its end in requests of `request` bytes; the end must stay.
outcome drain(tq5::byte_source text, std::size_t request) {
    outcome got;
    std::string buffer(request, '\0');
    while (got.end > 0) {
        got.end = text.read(text.context, buffer.data(), request);
        if (got.end > 0) got.text.append(buffer, 0, static_cast<std::size_t>(got.end));
    }
    check(text.read(text.context, buffer.data(), request) == got.end, "end not sticky");
    return got;
}

std::int64_t read_stream(void* context, char* buffer, std::size_t capacity) {
    return tq5::read_gzip_stream(*static_cast<tq5::gzip_stream*>(context), buffer, capacity);
}

outcome one_by_one(memory_file source, std::size_t request, const tq5::inflater_kind& kind) {
    const auto stream = tq5::open_gzip_stream({read_memory, &source}, {}, kind);
    return drain({read_stream, stream.get()}, request);
}

// The program's reader, its first bytes taken before (gzip: two, less than a header).
outcome threaded(format f, memory_file source, std::size_t request,
                 tq5::compressed_options options) {
    const std::size_t head = f == format::gzip ? 2 : tq5::format_head_size;
    const std::string_view taken = source.data.substr(0, std::min(source.data.size(), head));
    source.data.remove_prefix(taken.size());
    options.rewind_context = &source;
    const auto reader = tq5::open_compressed_reader(f, {read_memory, &source}, taken, options);
    return drain(tq5::compressed_text(*reader), request);
}

// zlib, noting whether it refused a block's Huffman codes (a set that is
// incomplete or over-subscribed), which ISA-L takes: it then decodes text
// with them up to a code that has no symbol, or to the trailer's CRC.  (The
// z_stream is the first member of the zlib inflater's state.)
bool refused_codes = false;
tq5::inflate_call checking_zlib(tq5::inflater_state* state, const unsigned char* in,
                                std::size_t in_size, unsigned char* out, std::size_t out_size) {
    const tq5::inflate_call call = tq5::zlib_inflater.inflate(state, in, in_size, out, out_size);
    const char* why = reinterpret_cast<const z_stream*>(state)->msg;
    if (call.step == tq5::inflate_step::bad && why != nullptr)
        refused_codes = std::strstr(why, " set") != nullptr || std::strstr(why, "repeat") ||
                        std::strstr(why, "end-of-block") || std::strstr(why, "too many");
    return call;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    const unsigned mode = bytes[0], second = bytes[1];
    const std::string_view text(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    const std::size_t per_read = 1 + mode % 64, request = 1 + mode / 4;
    const std::size_t cut = text.size() * second / 256;
    tq5::compressed_options options;
    options.threads = 1 + mode % 3;
    if ((mode / 2 + second) % 8 < 5) options.thread_limit = (mode / 2 + second) % 8;
    options.gzip.job_text = 16 + (mode * 37 + second * 11) % 2000;
    options.gzip.job_packed = 32 + (mode * 53 + second * 3) % 2000;
    if (second % 2 == 0)
        options.rewind = [](void* file) {
            static_cast<memory_file*>(file)->data = static_cast<memory_file*>(file)->all;
            return true;
        };
    // zstd, xz, bzip2: the text in two frames or streams, then intact, cut
    // short, a byte flipped or a byte of garbage after them.  The reader must
    // give the library's verdict and, where that decodes, its text; cut short,
    // it fails with the start of the text.
    const unsigned damage = (mode / 2) % 4;
    for (const format f : {format::zstd, format::xz, format::bzip2}) {
        if (mode % 2 != 0) break;
        std::string file = compressed(f, text.substr(0, cut));
        const std::size_t first = file.size();
        file += compressed(f, text.substr(cut));
        const std::size_t both = file.size();
        if (damage == 1) file.resize(both * (second % 8) / 8);
        if (damage == 2) file[(mode * 131 + second * 7) % both] ^= 0x20;
        if (damage == 3) file += static_cast<char>(second);
        const auto reference = one_shot(f, file, first, both, text.size() * 2 + 4096);
        const bool told = tq5::format_of(file.substr(0, tq5::format_head_size)) == f;
        check(told || damage != 0, "an intact file not told by its first bytes");
        if (!told) continue;
        const outcome got = threaded(f, {file, per_read}, request, options);
        check(damage != 1 || text.starts_with(got.text), "formats: cut short, not the text");
        check(got.end == (reference ? 0 : -1), "formats: another verdict than the library's");
        check(!reference || got.text == *reference, "formats: another text than the library's");
    }
    // gzip, by bit 1 of the mode: two members, zero padding by the second
    // byte's low bit; or BGZF members, an end-of-file one in the middle (as in
    // files joined with cat), intact, a byte flipped or the size in a header
    // (only a hint) covering the next member too or one too small.
    std::string file(text);
    bool flipped = false;
    if (mode % 4 == 0) {
        file = gzip_member(text.substr(0, cut), false) + gzip_member(text.substr(cut), false);
        if (second % 2 == 1) file += std::string(100, '\0');
    } else if (mode % 4 == 2) {
        const std::size_t piece = 1 + 2 * std::size_t{second};
        std::vector<std::string> members;
        for (std::size_t at = 0; at < text.size(); at += piece) {
            members.push_back(gzip_member(text.substr(at, piece), true));
            if (at == piece * (second % 8)) members.push_back(gzip_member({}, true));
        }
        members.push_back(gzip_member({}, true));
        const std::size_t hinted = (mode + second) % (members.size() - 1);
        std::string& member = members[hinted];
        if (second % 4 == 2)
            member.replace(16, 2, le16(member.size() + members[hinted + 1].size() - 1));
        if (second % 4 == 3) member.replace(16, 2, le16(member.size() - 2));
        file = std::accumulate(members.begin(), members.end(), std::string());
        flipped = second % 4 == 1;
        if (flipped) file[(mode * 131 + second * 7) % file.size()] ^= 0x20;
    }
    // A read error three quarters in, by bit 5 of the second byte.
    const bool fails = mode % 2 == 0 && (second & 32) != 0;
    if (fails) file.resize(file.size() * 3 / 4);
    // Each inflater member after member and all at once, and the threaded
    // reader, give the text and end (0, or -1 for bad data) of zlib in small steps.
    tq5::inflater_kind noting_zlib = tq5::zlib_inflater;
    noting_zlib.inflate = checking_zlib;
    refused_codes = false;
    const outcome reference = one_by_one({file, 1, fails}, 7, noting_zlib);
    if (mode % 2 == 0 && !flipped && !fails)
        check(reference.end == 0 && reference.text == text, "not the text compressed");
    check(!fails || (reference.end == -1 && (flipped || text.starts_with(reference.text))),
          "a read error: not the start of the text, then a failure");
    for (const tq5::inflater_kind* kind : {&tq5::zlib_inflater, &tq5::isal_inflater}) {
        const auto same = [&](const outcome& got, const char* reading) {
            // Codes that zlib refuses: ISA-L's text goes on from zlib's, and fails too.
            const bool codes = refused_codes && kind == &tq5::isal_inflater && got.end == -1 &&
                               got.text.starts_with(reference.text);
            check((got.end == reference.end && got.text == reference.text) || codes,
                  (kind->name + ", "s + reading + ": not zlib's text and end").c_str());
        };
        same(one_by_one({file, per_read, fails}, request, *kind), "member after member");
        same(one_by_one({file, SIZE_MAX, fails}, file.size() + 1, *kind), "all at once");
        options.gzip.inflater = kind;
        same(threaded(format::gzip, {file, per_read, fails}, request, options), "threaded");
    }
    return 0;
}

#ifdef TQ5_REPLAY
// Every file as it is, then its start in every mode.
int main(int argc, char** argv) {
    return replay_files(argc, argv, [](const std::string& bytes) {
        for (const std::string_view mode :
             {""sv, "\x01"sv, "\xff"sv, "\x40\x65"sv, "\x06\xfc"sv, "\x82\x15"sv, "\x46\x09"sv,
              "\xbe\x16"sv, "\xfe\x17"sv}) {
            const std::string input(mode.empty() ? bytes
                                                 : std::string(mode) + bytes.substr(0, 16 * 1024));
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()),
                                   input.size());
        }
    });
}
#endif
