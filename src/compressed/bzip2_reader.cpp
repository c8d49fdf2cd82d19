// bzip2: streams one after another (joined with cat, or as pbzip2 writes a
// file: a stream per block), each checked by libbz2 against its blocks'
// and its own CRC.  Bytes after a stream that begin no stream are bad data;
// a file that ends inside a stream is cut short.
//
// What the text is, and where bad data ends it, is decided by the reading
// stream after stream (bzip2_reading).  A file of several streams is first
// cut where a stream seems to begin (its header and the magic of its first
// block, or of its end), and the runs of streams so cut are decoded side by
// side by the workers and handed out in order.  A run that does not decode
// as whole, sound streams ending exactly at its end (a cut in the wrong
// place, a stream longer than a run, bad data, the end of the file) ends
// the workers: from that run's first byte on, the file is read stream after
// stream.
#include "compressed/job_ring.hpp"
#include "compressed/read_ahead.hpp"

#include <bzlib.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

namespace tq5 {

namespace {

class bzip2_reading final : public text_decoder {
  public:
    explicit bzip2_reading(packed_input input) : input_(std::move(input)) {}
    ~bzip2_reading() override { end_stream(); }

    std::int64_t decode(char* buffer, std::size_t capacity) override {
        if (state_ != 1) return state_;
        stream_.next_out = buffer;
        stream_.avail_out = static_cast<unsigned>(std::min<std::size_t>(capacity, 1u << 30));
        const unsigned room = stream_.avail_out;
        for (;;) {
            const std::size_t decoded = room - stream_.avail_out;
            if (stream_.avail_in == 0 && !may_flush_) {
                if (decoded > 0) return static_cast<std::int64_t>(decoded);
                const char* data = nullptr;
                const std::int64_t got = next_packed(input_, data);
                if (got < 0 || (got == 0 && open_)) return fail(0);
                if (got == 0) return state_ = 0;
                stream_.next_in = const_cast<char*>(data);
                stream_.avail_in = static_cast<unsigned>(got);
            }
            if (!open_) {
                if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) return fail(decoded);
                open_ = true;
            }
            const int ret = BZ2_bzDecompress(&stream_);
            if (ret == BZ_STREAM_END) {
                end_stream();
                may_flush_ = false;
                continue;
            }
            if (ret != BZ_OK) return fail(room - stream_.avail_out);
            may_flush_ = stream_.avail_out == 0;
            if (may_flush_) return static_cast<std::int64_t>(room);
        }
    }

  private:
    void end_stream() {
        if (open_) BZ2_bzDecompressEnd(&stream_);
        open_ = false;
    }
    std::int64_t fail(std::size_t decoded) {
        state_ = -1;
        return decoded > 0 ? static_cast<std::int64_t>(decoded) : -1;
    }

    packed_input input_;
    bz_stream stream_{};
    bool open_ = false; // a stream begun and not ended
    bool may_flush_ = false;
    std::int64_t state_ = 1;
};

constexpr std::size_t stream_header = 10; // "BZh", the block size, a block's magic

// The first place at or after `from` where a stream may begin in `bytes`
// with its header whole, or npos.
std::size_t next_stream_start(std::string_view bytes, std::size_t from) {
    using namespace std::string_view_literals;
    for (std::size_t at = bytes.find("BZh", from); at != bytes.npos;
         at = bytes.find("BZh", at + 1)) {
        if (bytes.size() - at < stream_header) return bytes.npos;
        const std::string_view here = bytes.substr(at, stream_header);
        if (here[3] >= '1' && here[3] <= '9' &&
            (here.substr(4) == "\x31\x41\x59\x26\x53\x59"sv ||
             here.substr(4) == "\x17\x72\x45\x38\x50\x90"sv))
            return at;
    }
    return bytes.npos;
}

// A run is one stream; one of more compressed bytes than this (more than a
// block of 900 kB of text can take) is read stream after stream with all
// after it.
constexpr std::size_t longest_run = 1024 * 1024;

enum class run_end { more, ended, one_by_one };

struct stream_run {
    std::string packed;
    std::vector<char> text;
    std::size_t text_size = 0;
    run_end end = run_end::more;
};

// Decodes the run's streams into its text; false unless they are whole and
// sound and end exactly at the run's end.
bool decode_run(stream_run& run) {
    run.text_size = 0;
    bz_stream stream{};
    stream.next_in = run.packed.data();
    stream.avail_in = static_cast<unsigned>(run.packed.size());
    while (stream.avail_in > 0) {
        if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return false;
        int ret = BZ_OK;
        while (ret == BZ_OK) {
            if (run.text.size() - run.text_size < 64 * 1024)
                run.text.resize(std::max<std::size_t>(run.text.size() * 2, 1024 * 1024));
            const auto room = static_cast<unsigned>(
                std::min<std::size_t>(run.text.size() - run.text_size, 1u << 30));
            stream.next_out = run.text.data() + run.text_size;
            stream.avail_out = room;
            const unsigned in_before = stream.avail_in;
            ret = BZ2_bzDecompress(&stream);
            run.text_size += room - stream.avail_out;
            // No input left and no text made: the stream goes on past the run.
            if (ret == BZ_OK && stream.avail_in == 0 && in_before == 0 && stream.avail_out == room)
                ret = BZ_UNEXPECTED_EOF;
        }
        BZ2_bzDecompressEnd(&stream);
        if (ret != BZ_STREAM_END) return false;
    }
    return true;
}

class bzip2_streams final : public compressed_reader {
  public:
    bzip2_streams(packed_input input, const compressed_options& options)
        : input_(std::move(input)), options_(options), ring_(options.threads + 1) {
        runs_.resize(ring_.slots());
    }
    ~bzip2_streams() override { stop_workers(); }

    void start() {
        const std::size_t workers = std::min<std::size_t>(options_.threads, options_.thread_limit);
        for (std::size_t at = 0; at < workers; ++at) {
            try {
                workers_.emplace_back([this] { work(); });
                ++started_;
            } catch (const std::system_error&) {
                break;
            }
        }
        if (workers_.empty()) read_one_by_one({});
    }

    std::int64_t read(char* buffer, std::size_t capacity) override {
        for (;;) {
            if (one_by_one_) return one_by_one_->read(buffer, capacity);
            if (reading_ == nullptr) {
                reading_ = &runs_[ring_.slot_of(ring_.take())];
                read_at_ = 0;
            }
            stream_run& run = *reading_;
            if (run.end != run_end::one_by_one && read_at_ < run.text_size) {
                const std::size_t count = std::min(capacity, run.text_size - read_at_);
                std::memcpy(buffer, run.text.data() + read_at_, count);
                read_at_ += count;
                return static_cast<std::int64_t>(count);
            }
            if (run.end == run_end::ended) return 0;
            if (run.end == run_end::one_by_one) {
                switch_to_one_by_one();
                continue;
            }
            ring_.release();
            reading_ = nullptr;
        }
    }

  private:
    // Cuts the next run: the carried bytes and more of the file, up to the
    // next place where a stream may begin.  False once all is cut.
    bool cut(stream_run& run) {
        if (cut_all_) return false;
        run.end = run_end::more;
        std::size_t at = next_stream_start(carry_, 1);
        std::size_t searched = carry_.size();
        while (at == carry_.npos && carry_.size() < longest_run) {
            const char* data = nullptr;
            const std::int64_t got = next_packed(input_, data);
            if (got <= 0) {
                // The end of the file, or a read error: the reading stream
                // after stream tells which, after the text before it.
                run.end = got == 0 ? run_end::ended : run_end::one_by_one;
                break;
            }
            carry_.append(data, static_cast<std::size_t>(got));
            at = next_stream_start(carry_, std::max<std::size_t>(searched, stream_header) -
                                               stream_header + 1);
            searched = carry_.size();
        }
        // A stream longer than a run: one by one from here.
        if (at == carry_.npos && run.end == run_end::more) run.end = run_end::one_by_one;
        if (run.end != run_end::more) cut_all_ = true;
        const std::size_t taken = run.end == run_end::more ? at : carry_.size();
        run.packed.assign(carry_, 0, taken);
        carry_.erase(0, taken);
        return true;
    }

    void work() {
        for (;;) {
            std::unique_lock cutting(cutting_);
            const std::optional<std::uint64_t> number = ring_.claim();
            if (!number) return;
            stream_run& run = runs_[ring_.slot_of(*number)];
            if (!cut(run)) {
                // Nothing more to cut: an empty last run.
                run.packed.clear();
                run.text_size = 0;
                run.end = run_end::ended;
                cutting.unlock();
                ring_.hand_over(*number);
                return;
            }
            cutting.unlock();
            if (run.end != run_end::one_by_one && !decode_run(run)) run.end = run_end::one_by_one;
            // Once handed over, the run is the reader's.
            const run_end end = run.end;
            ring_.hand_over(*number);
            if (end != run_end::more) return;
        }
    }

    void stop_workers() {
        ring_.stop();
        for (std::thread& worker : workers_)
            worker.join();
        workers_.clear();
    }

    // From the run being read on, its bytes, those of the runs cut after it
    // and the bytes not cut are read stream after stream.
    void switch_to_one_by_one() {
        stop_workers();
        std::string rest = std::move(reading_->packed);
        for (std::uint64_t number = ring_.first_after_taken(); number < ring_.claimed(); ++number)
            rest += runs_[ring_.slot_of(number)].packed;
        rest += carry_;
        runs_.clear();
        carry_.clear();
        read_one_by_one(std::move(rest));
    }

    void read_one_by_one(std::string rest) {
        if (!input_.taken_given) rest.insert(0, input_.taken);
        packed_input input{input_.file, std::move(rest)};
        input.failed = input_.failed;
        input.ended = input_.ended;
        compressed_options options = options_;
        options.thread_limit = options_.thread_limit - std::min(options_.thread_limit, started_);
        one_by_one_ = read_ahead(std::make_unique<bzip2_reading>(std::move(input)), options);
    }

    packed_input input_;
    compressed_options options_;
    std::mutex cutting_; // one worker cuts at a time
    std::string carry_;  // read, not cut yet
    bool cut_all_ = false;
    job_ring ring_;
    std::vector<stream_run> runs_; // by slot
    std::vector<std::thread> workers_;
    std::size_t started_ = 0;
    stream_run* reading_ = nullptr;
    std::size_t read_at_ = 0;
    compressed_reader_ptr one_by_one_;
};

} // namespace

compressed_reader_ptr open_bzip2_reader(packed_input input, const compressed_options& options) {
    auto reader = std::make_unique<bzip2_streams>(std::move(input), options);
    reader->start();
    return reader;
}

} // namespace tq5
