// The gzip reader: inflating ahead of the scanner.
//
// The text travels in jobs through a ring of slots, in the order of the
// file.  A job is claimed by a thread, filled, and marked ready; the scanner
// takes the ready jobs in turn and frees each slot when it has read it.
//
// A BGZF file is cut into jobs of whole members, each member's size taken
// from its header; the workers cut the next job one at a time and inflate
// their jobs side by side.  Anything that is not plainly a whole, sound
// BGZF member (a plain gzip member, padding, the end of the file, a read
// error, a member whose data or trailer does not check out) ends this: from
// the first such member on, the compressed bytes not yet decoded go to the
// one-after-another reading (gzip_stream), on a single thread, which decides
// what they hold exactly as for any gzip file.
#include "extract/gzip_source.hpp"

#include "extract/gzip_stream.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tq5 {

namespace {

constexpr std::size_t slot_count = 6;
// A BGZF member's header: the fixed part, the extra field's length, and
// in the extra field the subfield "BC" that holds the member's size.
constexpr std::size_t bgzf_fixed = 12;
// Room after the text of a job's last member.
constexpr std::size_t spare = 64;

enum class job_end {
    more,      // the text goes on in the next job
    ended,     // the end of the data
    failed,    // bad data or a read error
    one_by_one // the rest is read member after member, from `packed` at `decoded_packed`
};

struct member_span {
    std::size_t at = 0;   // in the job's packed bytes
    std::size_t size = 0; // the whole member
};

struct text_job {
    std::unique_ptr<unsigned char[]> text;
    std::size_t text_size = 0;
    std::unique_ptr<unsigned char[]> packed; // BGZF members, compressed
    std::size_t packed_size = 0;
    std::size_t decoded_packed = 0; // the packed bytes whose text is in `text`
    std::vector<member_span> members;
    job_end end = job_end::more;
    bool ready = false;
};

// The size of the BGZF member that starts at `at` (`size` bytes there), 0
// if it is not one, or -1 if more bytes are needed to tell.
std::int64_t bgzf_member_size(const unsigned char* at, std::size_t size) {
    if (size < bgzf_fixed) return -1;
    // gzip, deflate, no flag but the extra field.
    if (at[0] != 0x1f || at[1] != 0x8b || at[2] != 8 || at[3] != 4) return 0;
    const std::size_t extra = read_le16(at + 10);
    if (size < bgzf_fixed + extra) return -1;
    for (std::size_t field = 0; field + 4 <= extra;) {
        const unsigned char* sub = at + bgzf_fixed + field;
        const std::size_t length = read_le16(sub + 2);
        if (sub[0] == 'B' && sub[1] == 'C' && length == 2 && field + 6 <= extra) {
            const std::size_t member = read_le16(sub + 4) + std::size_t{1};
            return member >= bgzf_fixed + extra + 8 ? static_cast<std::int64_t>(member) : 0;
        }
        field += 4 + length;
    }
    return 0;
}

} // namespace

struct gzip_reader {
    gzip_options options;
    const inflater_kind* kind = nullptr;
    byte_source file;
    bool file_done = false;
    bool file_failed = false; // a read error, given again to every later read

    // The compressed bytes read but not yet cut into jobs (BGZF).
    std::mutex cutting;
    std::unique_ptr<unsigned char[]> carry;
    std::size_t carry_capacity = 0;
    std::size_t carry_begin = 0;
    std::size_t carry_end = 0;
    bool cutting_done = false;

    std::mutex mutex; // guards the counters and flags below and `ready`
    std::condition_variable job_ready;
    std::condition_variable slot_free;
    std::vector<text_job> jobs;
    std::uint64_t claimed = 0; // jobs claimed so far
    std::uint64_t taken = 0;   // the job the scanner reads
    bool stop = false;
    std::vector<std::thread> threads;
    gzip_stream_ptr stream; // after the BGZF members
    bool on_caller = false; // no thread could be started: `stream` is read here

    // The scanner's side.
    text_job* current = nullptr;
    std::size_t current_at = 0;
};

namespace {

std::int64_t read_file(gzip_reader& r, unsigned char* into, std::size_t capacity) {
    if (r.file_failed) return -1;
    const std::int64_t got = r.file.read(r.file.context, reinterpret_cast<char*>(into), capacity);
    if (got < 0) r.file_failed = true;
    return got;
}

std::int64_t read_file_source(void* context, char* into, std::size_t capacity) {
    return read_file(*static_cast<gzip_reader*>(context), reinterpret_cast<unsigned char*>(into),
                     capacity);
}

// The slot of the job with number `seq`.
text_job& slot(gzip_reader& r, std::uint64_t seq) {
    return r.jobs[static_cast<std::size_t>(seq % r.jobs.size())];
}

// Waits for a free slot and claims it; nullptr once the reader stops.
text_job* claim_job(gzip_reader& r) {
    std::unique_lock lock(r.mutex);
    r.slot_free.wait(lock, [&] { return r.stop || r.claimed < r.taken + r.jobs.size(); });
    if (r.stop) return nullptr;
    text_job& job = slot(r, r.claimed++);
    job.text_size = 0;
    job.packed_size = 0;
    job.decoded_packed = 0;
    job.members.clear();
    job.end = job_end::more;
    return &job;
}

void hand_over(gzip_reader& r, text_job& job) {
    {
        std::lock_guard lock(r.mutex);
        job.ready = true;
    }
    r.job_ready.notify_all();
}

// Makes at least `wanted` bytes ready in the carry, unless the file has no
// more; false then.
bool carry_at_least(gzip_reader& r, std::size_t wanted) {
    if (r.carry_end - r.carry_begin >= wanted) return true;
    if (wanted > r.carry_capacity) return false;
    std::memmove(r.carry.get(), r.carry.get() + r.carry_begin, r.carry_end - r.carry_begin);
    r.carry_end -= r.carry_begin;
    r.carry_begin = 0;
    while (r.carry_end < wanted && !r.file_done) {
        const std::int64_t got =
            read_file(r, r.carry.get() + r.carry_end, r.carry_capacity - r.carry_end);
        if (got <= 0)
            r.file_done = true;
        else
            r.carry_end += static_cast<std::size_t>(got);
    }
    return r.carry_end >= wanted;
}

// Cuts the next job: whole BGZF members, as many as fit.  A job that would
// start with anything else is the last: the rest is read one by one.
void cut_job(gzip_reader& r, text_job& job) {
    std::size_t text_total = 0;
    for (;;) {
        std::int64_t size = -1;
        if (carry_at_least(r, bgzf_fixed)) {
            const unsigned char* at = r.carry.get() + r.carry_begin;
            size = bgzf_member_size(at, r.carry_end - r.carry_begin);
            if (size < 0 && carry_at_least(r, bgzf_fixed + read_le16(at + 10))) {
                at = r.carry.get() + r.carry_begin;
                size = bgzf_member_size(at, r.carry_end - r.carry_begin);
            }
        }
        const auto member = static_cast<std::size_t>(std::max<std::int64_t>(size, 0));
        const bool whole =
            member > 0 && member <= r.options.job_packed && carry_at_least(r, member);
        const std::size_t text = whole ? read_le32(r.carry.get() + r.carry_begin + member - 4) : 0;
        if (!whole || text > r.options.job_text) {
            if (job.members.empty()) {
                job.end = job_end::one_by_one;
                r.cutting_done = true;
            }
            return;
        }
        if (job.packed_size + member > r.options.job_packed ||
            text_total + text > r.options.job_text)
            return;
        std::memcpy(job.packed.get() + job.packed_size, r.carry.get() + r.carry_begin, member);
        job.members.push_back({job.packed_size, member});
        job.packed_size += member;
        r.carry_begin += member;
        text_total += text;
    }
}

// Inflates the job's members.  The first one that does not check out ends
// the job: it and the rest are read one by one.
void inflate_job(gzip_reader& r, text_job& job, inflater_state* inflater) {
    for (const member_span& span : job.members) {
        const unsigned char* member = job.packed.get() + span.at;
        const std::size_t header = bgzf_fixed + read_le16(member + 10);
        const std::size_t deflate_size = span.size - header - 8;
        const std::uint32_t crc = read_le32(member + span.size - 8);
        const std::uint32_t length = read_le32(member + span.size - 4);
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

void inflate_members(gzip_reader& r) {
    const inflater_ptr inflater = make_inflater(*r.kind);
    for (;;) {
        std::unique_lock cutting(r.cutting);
        if (r.cutting_done) return;
        text_job* job = claim_job(r);
        if (job == nullptr) return;
        cut_job(r, *job);
        cutting.unlock();
        inflate_job(r, *job, inflater.get());
        hand_over(r, *job);
    }
}

void inflate_one_by_one(gzip_reader& r) {
    for (;;) {
        text_job* job = claim_job(r);
        if (job == nullptr) return;
        const std::int64_t got = read_gzip_stream(
            *r.stream, reinterpret_cast<char*>(job->text.get()), r.options.job_text);
        job->text_size = got > 0 ? static_cast<std::size_t>(got) : 0;
        job->end = got > 0 ? job_end::more : got == 0 ? job_end::ended : job_end::failed;
        const bool last = job->end != job_end::more;
        hand_over(r, *job);
        if (last) return;
    }
}

// False if the system has no thread to give (the work is then done on the
// caller's thread, only later).
bool start_thread(gzip_reader& r, void (*work)(gzip_reader&)) {
    if (r.options.no_threads) return false;
    try {
        r.threads.emplace_back(work, std::ref(r));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void stop_threads(gzip_reader& r) {
    {
        std::lock_guard lock(r.mutex);
        r.stop = true;
    }
    r.slot_free.notify_all();
    for (std::thread& thread : r.threads)
        thread.join();
    r.threads.clear();
}

// The compressed bytes `rest`, then the rest of the file, are read member
// after member: on a thread of their own, or on the caller's.
void read_one_by_one(gzip_reader& r, std::string_view rest) {
    r.stream = open_gzip_stream({read_file_source, &r}, rest, *r.kind);
    if (!start_thread(r, inflate_one_by_one)) r.on_caller = true;
}

// From the job being read on: its members not decoded, those of the jobs
// cut after it, and the carry go to the one-by-one reading.
void read_rest_one_by_one(gzip_reader& r) {
    stop_threads(r);
    std::vector<unsigned char> rest;
    const text_job& first = *r.current;
    rest.insert(rest.end(), first.packed.get() + first.decoded_packed,
                first.packed.get() + first.packed_size);
    for (std::uint64_t seq = r.taken + 1; seq < r.claimed; ++seq) {
        const text_job& job = slot(r, seq);
        rest.insert(rest.end(), job.packed.get(), job.packed.get() + job.packed_size);
    }
    rest.insert(rest.end(), r.carry.get() + r.carry_begin, r.carry.get() + r.carry_end);
    // The compressed buffers go before the reading one by one takes its own.
    r.carry.reset();
    r.carry_begin = r.carry_end = 0;
    for (text_job& job : r.jobs) {
        job.ready = false;
        job.packed.reset();
    }
    r.claimed = r.taken = 0;
    r.stop = false;
    r.current = nullptr;
    read_one_by_one(r, {reinterpret_cast<const char*>(rest.data()), rest.size()});
}

std::int64_t read_text(void* context, char* buffer, std::size_t capacity) {
    auto& r = *static_cast<gzip_reader*>(context);
    if (r.on_caller) return read_gzip_stream(*r.stream, buffer, capacity);
    for (;;) {
        if (text_job* job = r.current) {
            if (r.current_at < job->text_size) {
                const std::size_t count = std::min(capacity, job->text_size - r.current_at);
                std::memcpy(buffer, job->text.get() + r.current_at, count);
                r.current_at += count;
                return static_cast<std::int64_t>(count);
            }
            if (job->end == job_end::ended) return 0;
            if (job->end == job_end::failed) return -1;
            if (job->end == job_end::one_by_one) {
                read_rest_one_by_one(r);
                continue;
            }
            {
                std::lock_guard lock(r.mutex);
                job->ready = false;
                ++r.taken;
                r.current = nullptr;
            }
            r.slot_free.notify_all();
        }
        std::unique_lock lock(r.mutex);
        text_job& next = slot(r, r.taken);
        r.job_ready.wait(lock, [&] { return next.ready; });
        r.current = &next;
        r.current_at = 0;
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
    r.carry_capacity = std::max(2 * r.options.job_packed, taken.size() + 64 * 1024 + 16);
    r.carry = std::make_unique_for_overwrite<unsigned char[]>(r.carry_capacity);
    std::memcpy(r.carry.get(), taken.data(), taken.size());
    r.carry_end = taken.size();

    r.jobs.resize(slot_count);
    for (text_job& job : r.jobs) {
        job.text = std::make_unique_for_overwrite<unsigned char[]>(r.options.job_text + spare);
        job.packed = std::make_unique_for_overwrite<unsigned char[]>(r.options.job_packed);
    }
    for (unsigned at = 0; at < workers; ++at)
        if (!start_thread(r, inflate_members)) break;
    if (r.threads.empty())
        read_one_by_one(r, {reinterpret_cast<const char*>(r.carry.get()), r.carry_end});
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
