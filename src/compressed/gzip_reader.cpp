// The gzip reader: inflating ahead of the caller.
//
// The text travels in jobs through an ordered ring (job_ring.hpp), in the
// order of the file.  How it is read is one of three modes, which the text
// side looks at on every step:
//   - workers: the BGZF cutter (bgzf_cutter.hpp) cuts runs of whole members
//     and the workers inflate them side by side.  Anything that is not
//     plainly a whole, sound BGZF member ends this mode: from the first such
//     member on, the bytes not yet decoded are read member after member;
//   - reading_thread: member after member (gzip_stream.hpp) on a thread of
//     its own, through the same ring;
//   - on_caller: member after member on the caller's thread, where no
//     thread could be started for it.
// A plain gzip file starts in the workers' mode too: its first member is
// not BGZF's, so the first run is empty and the mode changes at once.
#include "compressed/gzip_reader.hpp"

#include "compressed/bgzf_cutter.hpp"
#include "compressed/gzip_format.hpp"
#include "compressed/gzip_stream.hpp"
#include "compressed/job_ring.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace tq5 {

namespace {

constexpr std::size_t slot_count = 6;
// Room after the text of a job's last member.
constexpr std::size_t spare = 64;

enum class reading_mode { workers, reading_thread, on_caller };

enum class job_end {
    more,      // the text goes on in the next job
    ended,     // the end of the data
    failed,    // bad data or a read error
    one_by_one // the rest is read member after member, from `packed` at `decoded_packed`
};

struct text_job {
    std::unique_ptr<unsigned char[]> text;
    std::size_t text_size = 0;
    std::unique_ptr<unsigned char[]> packed; // BGZF members, compressed
    std::size_t packed_size = 0;
    std::size_t decoded_packed = 0; // the packed bytes whose text is in `text`
    std::vector<member_span> members;
    job_end end = job_end::more;
};

} // namespace

struct gzip_reader {
    gzip_options options;
    const inflater_kind* kind = nullptr;
    byte_source file;
    bool file_failed = false; // a read error, given again to every later read

    std::mutex cutting; // one worker cuts at a time
    bgzf_cutter cutter;

    job_ring ring{slot_count};
    std::vector<text_job> jobs; // by slot
    std::vector<std::thread> threads;
    std::vector<inflater_ptr> inflaters; // the workers', made before they start
    std::size_t threads_started = 0;
    reading_mode mode = reading_mode::workers;
    gzip_stream_ptr stream; // after the BGZF members

    // The text side: the job it reads, and how far.
    text_job* reading = nullptr;
    std::size_t read_at = 0;
};

namespace {

std::int64_t read_file(void* context, char* into, std::size_t capacity) {
    auto& r = *static_cast<gzip_reader*>(context);
    if (r.file_failed) return -1;
    const std::int64_t got = r.file.read(r.file.context, into, capacity);
    if (got < 0) r.file_failed = true;
    return got;
}

text_job& claimed_job(gzip_reader& r, std::uint64_t number) {
    text_job& job = r.jobs[r.ring.slot_of(number)];
    job.text_size = 0;
    job.packed_size = 0;
    job.decoded_packed = 0;
    job.members.clear();
    job.end = job_end::more;
    return job;
}

// Inflates the job's members.  The first one that does not check out ends
// the job: it and the rest are read one by one.
void inflate_job(gzip_reader& r, text_job& job, inflater_state* inflater) {
    for (const member_span& span : job.members) {
        const unsigned char* member = job.packed.get() + span.at;
        const std::size_t header = gzip::extra_only_header_size(member);
        const std::size_t deflate_size = span.size - header - gzip::trailer_size;
        const unsigned char* trailer = member + span.size - gzip::trailer_size;
        const std::uint32_t crc = gzip::read_le32(trailer);
        const std::uint32_t length = gzip::read_le32(trailer + 4);
        r.kind->restart(inflater);
        // A little more room than the text needs: ISA-L notes the end of a
        // stream only with room to spare.
        const inflate_call call = r.kind->inflate(inflater, member + header, deflate_size,
                                                  job.text.get() + job.text_size, length + spare);
        std::array<unsigned char, most_over_read> back{};
        const bool sound = call.step == inflate_step::stream_end && call.consumed == deflate_size &&
                           r.kind->over_read(inflater, back.data()) == 0 &&
                           call.produced == length && r.kind->text_crc(inflater) == crc;
        if (!sound) {
            job.end = job_end::one_by_one;
            return;
        }
        job.text_size += length;
        job.decoded_packed = span.at + span.size;
    }
}

// A worker: cuts the next run of members, then inflates it beside the
// other workers.
void inflate_members(gzip_reader& r, inflater_state* inflater) {
    for (;;) {
        std::unique_lock cutting(r.cutting);
        if (r.cutter.done) return;
        const std::optional<std::uint64_t> number = r.ring.claim();
        if (!number) return;
        text_job& job = claimed_job(r, *number);
        try {
            job.packed_size = cut_members(r.cutter, job.packed.get(), r.options.job_packed,
                                          r.options.job_text, job.members);
        } catch (const std::bad_alloc&) {
            // No room for another member's place: the members cut so far
            // are inflated, the rest read one by one.
            job.packed_size =
                job.members.empty() ? 0 : job.members.back().at + job.members.back().size;
            job.end = job_end::one_by_one;
        }
        if (job.members.empty()) job.end = job_end::one_by_one;
        cutting.unlock();
        inflate_job(r, job, inflater);
        r.ring.hand_over(*number);
    }
}

// The reading thread: member after member, a job at a time.
void inflate_one_by_one(gzip_reader& r) {
    for (;;) {
        const std::optional<std::uint64_t> number = r.ring.claim();
        if (!number) return;
        text_job& job = claimed_job(r, *number);
        const std::int64_t got = read_gzip_stream(
            *r.stream, reinterpret_cast<char*>(job.text.get()), r.options.job_text);
        job.text_size = got > 0 ? static_cast<std::size_t>(got) : 0;
        job.end = got > 0 ? job_end::more : got == 0 ? job_end::ended : job_end::failed;
        r.ring.hand_over(*number);
        if (job.end != job_end::more) return;
    }
}

// False where the system gives no thread (nor the memory for one), or the
// reader may start no more.
template <typename Work> bool start_thread(gzip_reader& r, Work work) {
    if (r.threads_started >= r.options.thread_limit) return false;
    try {
        r.threads.reserve(r.threads.size() + 1);
        r.threads.emplace_back(work);
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    ++r.threads_started;
    return true;
}

void stop_threads(gzip_reader& r) {
    r.ring.stop();
    for (std::thread& thread : r.threads)
        thread.join();
    r.threads.clear();
}

// The buffers of the BGZF cutting, once the reading member after member
// has what it needs of them.
void free_packed(gzip_reader& r) {
    r.cutter.carry.reset();
    r.cutter.begin = r.cutter.end = 0;
    for (text_job& job : r.jobs)
        job.packed.reset();
}

// The compressed bytes `rest`, then the rest of the file, are read member
// after member: on a thread of their own, or else on the caller's.
void read_one_by_one(gzip_reader& r, std::string_view rest) {
    try {
        r.stream = open_gzip_stream({read_file, &r}, rest, *r.kind);
    } catch (const std::bad_alloc&) {
        if (r.jobs.empty()) throw;
        r.jobs.clear(); // the reading thread's buffers give way: on the caller's thread
        r.stream = open_gzip_stream({read_file, &r}, rest, *r.kind);
    }
    const bool jobs = !r.jobs.empty() && r.jobs.front().text != nullptr;
    r.mode = jobs && start_thread(r, [&r] { inflate_one_by_one(r); }) ? reading_mode::reading_thread
                                                                      : reading_mode::on_caller;
}

// The workers are done.  From the job being read on, its members not
// decoded, those of the jobs cut after it and the bytes not cut go to the
// reading member after member.
void switch_to_one_by_one(gzip_reader& r) {
    stop_threads(r);
    std::vector<unsigned char> rest;
    const text_job& first = *r.reading;
    rest.insert(rest.end(), first.packed.get() + first.decoded_packed,
                first.packed.get() + first.packed_size);
    for (std::uint64_t number = r.ring.first_after_taken(); number < r.ring.claimed(); ++number) {
        const text_job& job = r.jobs[r.ring.slot_of(number)];
        rest.insert(rest.end(), job.packed.get(), job.packed.get() + job.packed_size);
    }
    const std::string_view uncut = left_uncut(r.cutter);
    rest.insert(rest.end(), uncut.begin(), uncut.end());
    // The compressed buffers go before the reading one by one takes its own.
    free_packed(r);
    r.ring.reset();
    r.reading = nullptr;
    read_one_by_one(r, {reinterpret_cast<const char*>(rest.data()), rest.size()});
}

std::int64_t read_text(void* context, char* buffer, std::size_t capacity) {
    auto& r = *static_cast<gzip_reader*>(context);
    for (;;) {
        if (r.mode == reading_mode::on_caller) return read_gzip_stream(*r.stream, buffer, capacity);
        if (r.reading == nullptr) {
            r.reading = &r.jobs[r.ring.slot_of(r.ring.take())];
            r.read_at = 0;
        }
        text_job& job = *r.reading;
        if (r.read_at < job.text_size) {
            const std::size_t count = std::min(capacity, job.text_size - r.read_at);
            std::memcpy(buffer, job.text.get() + r.read_at, count);
            r.read_at += count;
            return static_cast<std::int64_t>(count);
        }
        switch (job.end) {
        case job_end::ended:
            return 0;
        case job_end::failed:
            return -1;
        case job_end::one_by_one:
            switch_to_one_by_one(r);
            break;
        case job_end::more:
            r.ring.release();
            r.reading = nullptr;
            break;
        }
    }
}

} // namespace

void gzip_reader_deleter::operator()(gzip_reader* reader) const {
    stop_threads(*reader);
    delete reader;
}

gzip_reader_ptr open_gzip_reader(byte_source compressed, std::string_view taken,
                                 const gzip_options& options) {
    gzip_reader_ptr reader(new gzip_reader);
    gzip_reader& r = *reader;
    r.options = options;
    r.options.job_text = std::max<std::size_t>(options.job_text, 1);
    r.kind = options.inflater != nullptr ? options.inflater : &default_inflater();
    r.file = compressed;
    unsigned workers = options.workers;
    if (workers == 0) workers = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    try {
        start_cutting(r.cutter, {read_file, &r}, taken, r.options.job_packed);
        r.jobs.resize(r.ring.slots());
        for (text_job& job : r.jobs) {
            job.text = std::make_unique_for_overwrite<unsigned char[]>(r.options.job_text + spare);
            job.packed = std::make_unique_for_overwrite<unsigned char[]>(r.options.job_packed);
        }
        r.inflaters.reserve(workers);
        for (unsigned at = 0; at < workers; ++at)
            r.inflaters.push_back(make_inflater(*r.kind));
    } catch (const std::bad_alloc&) {
        // Memory is short: fewer workers, or none, and then without the
        // jobs' buffers: member after member on the caller's thread.
        if (r.inflaters.empty()) r.jobs.clear();
    }
    for (const inflater_ptr& inflater : r.inflaters)
        if (!start_thread(r, [&r, at = inflater.get()] { inflate_members(r, at); })) break;
    if (r.threads.empty()) {
        // Nothing was read from the file yet.
        free_packed(r);
        read_one_by_one(r, taken);
    }
    return reader;
}

byte_source gzip_text(gzip_reader& reader) {
    return {read_text, &reader};
}

const inflater_kind& default_inflater() {
#if defined(TQ5_HAVE_ISAL)
    return isal_inflater;
#else
    return zlib_inflater;
#endif
}

} // namespace tq5
