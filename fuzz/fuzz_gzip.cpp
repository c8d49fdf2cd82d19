// libFuzzer target: the gzip reader (and, by formats_check.hpp, the zstd, xz
// and bzip2 readers).  The first byte picks the sizes (compressed reads of 1
// to 64 bytes, text requests, jobs, threads) and the mode: odd, the rest is a
// compressed file as it comes; even, the rest is text compressed here, into
// two gzip members cut where the second byte says (bit 1 clear; zero padding
// by the second byte's low bit), or into BGZF members of 1 + 2 * (second
// byte) bytes of text with an end-of-file member in the middle, intact, one
// byte flipped, or one header's size covering the next member or one too
// small (by the second byte's low bits).  Bit 5 of the second byte adds a
// read error three quarters in: the reading fails with the start of the text.
// The reference is zlib member after member in small steps; each inflater
// member after member and all at once, and the threaded reader (threads
// refused after 0 to 4 starts by the first two bytes) must give its text and
// end exactly (0, or -1 for bad data, staying so); undamaged text compressed
// here comes back byte for byte.  Built with TQ5_REPLAY it checks every file
// of the folders given, in every mode (ctest: the seeds, the cases' inputs).
#include "compressed/gzip_reader.hpp"
#include "compressed/gzip_stream.hpp"

#include "common.hpp"

#include <zlib.h>

#include <vector>

namespace {

std::string deflated(std::string_view text) {
    z_stream z{};
    check(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK, "deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    check(deflate(&z, Z_FINISH) == Z_STREAM_END, "deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string le(std::uint32_t value, int bytes) {
    std::string out;
    for (int at = 0; at < bytes; ++at)
        out += static_cast<char>(value >> (8 * at));
    return out;
}

std::string trailer(std::string_view text) {
    const auto crc =
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
    return le(static_cast<std::uint32_t>(crc), 4) + le(static_cast<std::uint32_t>(text.size()), 4);
}

std::string gzip_member(std::string_view text) {
    return std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10) + deflated(text) +
           trailer(text);
}

std::string bgzf_member(std::string_view text) {
    const std::string data = deflated(text);
    const auto size = static_cast<std::uint32_t>(18 + data.size() + 8);
    return std::string("\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00"
                       "BC\x02\x00",
                       16) +
           le(size - 1, 2) + data + trailer(text);
}

struct outcome {
    std::string text;
    std::int64_t end = 1;
};

outcome drain(tq5::byte_source source, std::size_t request) {
    outcome got;
    std::vector<char> buffer(request);
    while (got.end > 0) {
        got.end = source.read(source.context, buffer.data(), buffer.size());
        if (got.end > 0) got.text.append(buffer.data(), static_cast<std::size_t>(got.end));
    }
    check(source.read(source.context, buffer.data(), buffer.size()) == got.end, "end not sticky");
    return got;
}

std::int64_t read_stream(void* context, char* buffer, std::size_t capacity) {
    return tq5::read_gzip_stream(*static_cast<tq5::gzip_stream*>(context), buffer, capacity);
}

outcome one_by_one(std::string_view file, bool fails, std::size_t per_read, std::size_t request,
                   const tq5::inflater_kind& kind) {
    memory_file source{file, per_read, fails};
    const auto stream = tq5::open_gzip_stream({read_memory, &source}, {}, kind);
    return drain({read_stream, stream.get()}, request);
}

outcome threaded(std::string_view file, bool fails, std::size_t per_read, std::size_t request,
                 const tq5::gzip_options& options) {
    memory_file source{file, per_read, fails};
    // The first two bytes are taken before the reader starts, as the program does.
    const std::string_view taken = file.substr(0, std::min<std::size_t>(2, file.size()));
    source.data.remove_prefix(taken.size());
    const auto reader = tq5::open_gzip_reader({read_memory, &source}, taken, options);
    return drain(tq5::gzip_text(*reader), request);
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
tq5::inflater_kind reference_zlib() {
    tq5::inflater_kind kind = tq5::zlib_inflater;
    kind.inflate = checking_zlib;
    return kind;
}

void same(const outcome& got, const outcome& reference, const tq5::inflater_kind& kind,
          const char* reading) {
    if (got.end == reference.end && got.text == reference.text) return;
    // Codes that zlib refuses: ISA-L's text goes on from zlib's.
    if (refused_codes && &kind == &tq5::isal_inflater && got.end == -1 &&
        got.text.starts_with(reference.text))
        return;
    std::fprintf(stderr, "fuzz_gzip: %s, %s: end %lld, %zu bytes of text; reference %lld, %zu\n",
                 kind.name, reading, static_cast<long long>(got.end), got.text.size(),
                 static_cast<long long>(reference.end), reference.text.size());
    std::abort();
}

const tq5::inflater_kind* const inflaters[] = {&tq5::zlib_inflater, &tq5::isal_inflater};

} // namespace

#include "formats_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    const unsigned mode = bytes[0];
    const unsigned second = bytes[1];
    const std::string_view rest(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    std::string file(rest);
    bool intact = false;
    bool flipped = false;
    if (mode % 2 == 0) check_formats(rest, mode, second);
    if (mode % 2 == 0 && (mode & 2) == 0) {
        const std::size_t cut = rest.size() * second / 256;
        file = gzip_member(rest.substr(0, cut)) + gzip_member(rest.substr(cut));
        if (second % 2 == 1) file += std::string(100, '\0');
        intact = true;
    } else if (mode % 2 == 0) {
        const std::size_t piece = 1 + 2 * std::size_t{second};
        std::vector<std::string> members;
        for (std::size_t at = 0; at < rest.size(); at += piece) {
            members.push_back(bgzf_member(rest.substr(at, piece)));
            // An end-of-file member in the middle, as in BGZF files joined with cat.
            if (at == piece * (second % 8)) members.push_back(bgzf_member({}));
        }
        members.push_back(bgzf_member({}));
        // The size in a member's header is only a hint: one that also
        // covers the next member, or one too small, changes nothing.
        const std::size_t hinted = (mode + second) % (members.size() - 1);
        const auto own = static_cast<std::uint32_t>(members[hinted].size());
        const auto next = static_cast<std::uint32_t>(members[hinted + 1].size());
        if (second % 4 == 2) {
            members[hinted].replace(16, 2, le(own + next - 1, 2));
            members[hinted] += members[hinted + 1];
            members.erase(members.begin() + static_cast<std::ptrdiff_t>(hinted) + 1);
        }
        if (second % 4 == 3) members[hinted].replace(16, 2, le(own - 2, 2));
        file.clear();
        for (const std::string& member : members)
            file += member;
        flipped = second % 4 == 1;
        intact = !flipped;
        if (flipped) file[(mode * 131 + second * 7) % file.size()] ^= 0x20;
    }

    // A read error three quarters into the file, by bit 5 of the second byte.
    const bool fails = (second & 32) != 0 && mode % 2 == 0;
    if (fails) {
        file.resize(file.size() * 3 / 4);
        intact = false;
    }
    const std::size_t per_read = 1 + mode % 64;
    const std::size_t request = 1 + mode / 4;
    tq5::gzip_options options;
    options.job_text = 16 + (mode * 37 + second * 11) % 2000;
    options.job_packed = 32 + (mode * 53 + second * 3) % 2000;
    options.workers = 1 + mode % 3;
    const std::size_t starts = (mode / 2 + second) % 8;
    if (starts < 5) options.thread_limit = starts;
    static const tq5::inflater_kind zlib_in_steps = reference_zlib();
    refused_codes = false;
    const outcome reference = one_by_one(file, fails, 1, 7, zlib_in_steps);
    if (intact) check(reference.end == 0 && reference.text == rest, "not the text compressed");
    // A read error is never the end of the text.
    if (fails) check(reference.end == -1, "a read error taken as the end of the data");
    if (fails && !flipped)
        check(std::string_view(rest).starts_with(reference.text), "read error: not the text");
    for (const tq5::inflater_kind* kind : inflaters) {
        same(one_by_one(file, fails, per_read, request, *kind), reference, *kind,
             "member after member");
        same(one_by_one(file, fails, file.size() + 1, file.size() + 1, *kind), reference, *kind,
             "all at once");
        options.inflater = kind;
        same(threaded(file, fails, per_read, request, options), reference, *kind, "threaded");
    }
    return 0;
}

#ifdef TQ5_REPLAY
// Every file as it is, then in every mode: as a compressed file, as the
// text of two members, and as the text of BGZF members, whole or damaged.
int main(int argc, char** argv) {
    const unsigned char variants[][2] = {{1, 0},    {255, 0}, {64, 101}, {6, 252},
                                         {130, 21}, {70, 9},  {190, 22}, {254, 23}};
    return replay_files(argc, argv, [&](const std::string& bytes) {
        // As it is (a seed or a fuzzer's find), then in every mode.
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        for (const auto& variant : variants) {
            std::string input = bytes.substr(0, 16 * 1024);
            input.insert(0, 1, static_cast<char>(variant[0]));
            if (variant[0] % 2 == 0) input.insert(1, 1, static_cast<char>(variant[1]));
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()),
                                   input.size());
        }
    });
}
#endif
