#include "extract/out_sink.hpp"

#include <algorithm>
#include <cstring>

namespace tq5 {

void start_sink(out_sink& sink, byte_target target, std::size_t size) {
    sink.target = target;
    sink.buffer.assign(std::max<std::size_t>(size, 64), '\0');
    sink.used = 0;
    sink.handed = 0;
    sink.failed = false;
}

bool flush(out_sink& sink) {
    if (sink.used > 0 && !sink.failed) {
        if (sink.target.write(sink.target.context, sink.buffer.data(), sink.used)) {
            sink.handed += static_cast<std::int64_t>(sink.used);
        } else {
            sink.failed = true;
            if (sink.write_failed != nullptr) sink.write_failed(sink.hook_context);
        }
    }
    sink.used = 0;
    return !sink.failed;
}

void put(out_sink& sink, std::string_view text) {
    while (!text.empty()) {
        if (sink.used == sink.buffer.size()) flush(sink);
        const std::size_t room = std::min(text.size(), sink.buffer.size() - sink.used);
        std::memcpy(sink.buffer.data() + sink.used, text.data(), room);
        sink.used += room;
        text.remove_prefix(room);
    }
}

void put_char(out_sink& sink, char c) {
    if (sink.used == sink.buffer.size()) flush(sink);
    sink.buffer[sink.used++] = c;
}

void put_number(out_sink& sink, std::int64_t value) {
    char digits[24];
    std::size_t count = 0;
    // Counters start at 0 or 1 and only grow, but a negative value must not
    // turn into garbage either.
    const bool negative = value < 0;
    auto rest =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (negative) digits[count++] = '-';
    std::reverse(digits, digits + count);
    put(sink, {digits, count});
}

} // namespace tq5
