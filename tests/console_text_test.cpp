// The Windows program's conversion of the answers' text, on the table
// tests/console_text.txt: each row's input, as its reads and as every split
// into two or three reads, with buffers of 6 to 16 bytes and of 4096, must
// give the row's output; a result longer than the buffer, a byte written past
// it, a request for no unit or after the end is a fault.  console_text_test TABLE
#include "platform/console_text.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace tq5::platform;

namespace {

// Table text: \xHH and \uHHHH a byte or a UTF-16 unit, \t \r \n \\; a field
// ending *N is repeated N times.
template <class Text> Text unescape(std::string text) {
    using unit = typename Text::value_type;
    std::size_t times = 1;
    if (const auto star = text.rfind('*');
        star != text.npos && star + 1 < text.size() &&
        text.find_first_not_of("0123456789", star + 1) == text.npos) {
        times = std::stoul(text.substr(star + 1));
        text.resize(star);
    }
    Text once, out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] == '\\' ? text[++i] : '\0';
        const std::size_t digits = c == 'x' ? 2 : c == 'u' ? 4 : 0;
        if (digits > 0)
            once += static_cast<unit>(std::stoul(text.substr(i + 1, digits), nullptr, 16));
        else if (c == '\0')
            once += static_cast<unit>(static_cast<unsigned char>(text[i]));
        else
            once += static_cast<unit>(c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c);
        i += digits;
    }
    while (times-- > 0)
        out += once;
    return out;
}

// A console or a pipe handing out the reads in turn, in as many pieces as the
// requests take.  `forms`: a letter for each form announced (? b l B).
template <class Text> struct source {
    std::vector<Text> reads;
    bool fails = false, ended = false, bad = false;
    std::string forms;
    std::size_t next = 0;
};

template <class Text>
std::int64_t take(void* context, typename Text::value_type* into, std::size_t count) {
    auto& s = *static_cast<source<Text>*>(context);
    constexpr bool typed = sizeof(*into) == 2;
    s.bad |= count == 0 || (s.ended && typed) || (s.forms == "?" && count != 1);
    if (s.next == s.reads.size()) return s.ended = true, s.fails ? -1 : 0;
    Text& read = s.reads[s.next];
    const std::size_t taken = std::min(count, read.size());
    read.copy(into, taken);
    s.ended |= typed && read.substr(0, taken).find(0x1a) != read.npos;
    read.erase(0, taken);
    s.next += read.empty();
    return static_cast<std::int64_t>(taken);
}

void announce(void* context, answer_form form) {
    static_cast<source<std::string>*>(context)->forms += "?blB"[static_cast<int>(form)];
}

// Everything read with a buffer of `capacity`, then the end for good.
template <class Text>
std::string read_all(const std::string& kind, std::vector<Text> reads, std::size_t capacity) {
    source<Text> s{std::move(reads), kind == "typed-error", false, false, "", 0};
    typed_answers typed;
    piped_answers piped;
    std::string text, buffer(capacity + 8, '#');
    auto read = [&] {
        if constexpr (sizeof(typename Text::value_type) == 2)
            return read_typed(typed, {take<Text>, &s}, buffer.data(), capacity);
        else
            return read_piped(piped, {take<Text>, announce, &s}, buffer.data(), capacity);
    };
    std::int64_t got = 0;
    while ((got = read()) > 0) {
        if (static_cast<std::size_t>(got) > capacity) return "<too long>";
        text.append(buffer, 0, static_cast<std::size_t>(got));
    }
    if (got < 0) text += "<error>";
    if (got == 0 && (read() != 0 || read() != 0)) return "<more after the end>";
    if (buffer.substr(capacity) != std::string(8, '#')) return "<past the buffer>";
    if (s.bad) return "<bad request>";
    return s.forms.empty() ? text : s.forms + " " + text;
}

template <class Text>
int check(const std::string& kind, const std::string& field, const std::string& wanted, int row) {
    std::vector<Text> reads;
    Text whole;
    for (std::size_t at = 0, bar = 0; bar < field.size(); at = bar + 3) {
        bar = std::min(field.find(" | ", at), field.size());
        whole += reads.emplace_back(unescape<Text>(field.substr(at, bar - at)));
    }
    std::vector<std::vector<Text>> ways{reads};
    for (std::size_t i = 1; whole.size() <= 40 && i < whole.size(); ++i)
        for (std::size_t j = i; j < whole.size(); ++j)
            ways.push_back(
                j == i ? std::vector{whole.substr(0, i), whole.substr(i)}
                       : std::vector{whole.substr(0, i), whole.substr(i, j - i), whole.substr(j)});
    for (std::size_t step = 0; step <= 11; ++step)
        for (const std::size_t capacity = step < 11 ? smallest_answer_buffer + step : 4096;
             const auto& way : ways)
            if (const std::string got = read_all(kind, way, capacity); got != wanted) {
                std::printf("FAILED row %d, buffer %zu, %zu reads: got", row, capacity, way.size());
                for (const char c : got)
                    std::printf(" %02x", static_cast<unsigned char>(c));
                return std::printf("\n"), 1;
            }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::ifstream table(argc > 1 ? argv[1] : "console_text.txt");
    int failures = 0, row = 0;
    for (std::string line; std::getline(table, line); ++row) {
        std::vector<std::string> fields;
        std::istringstream cells(line + "\t");
        for (std::string field; std::getline(cells, field, '\t');)
            fields.push_back(field);
        if (fields.size() != 3 || fields[0][0] == '#') continue;
        const std::string& kind = fields[0];
        const std::string wanted = unescape<std::string>(fields[2]);
        if (kind == "piped") {
            failures += check<std::string>(kind, fields[1], wanted, row);
        } else if (kind.starts_with("typed")) {
            failures += check<std::u16string>(kind, fields[1], wanted, row);
        } else if (answer_as_utf8(unescape<std::string>(fields[1]), kind == "ansi" ? +[](const std::string& text) {
                       return unescape<std::u16string>(text); // Latin-1: each byte its code point
                   } : +[](const std::string&) { return std::u16string{}; }) != wanted) {
            failures += std::printf("FAILED row %d\n", row) > 0;
        }
    }
    std::printf(row == 0 ? "no table\n" : failures == 0 ? "all passed\n" : "%d failed\n", failures);
    return failures == 0 && row > 0 ? 0 : 1;
}
