// The Windows program's conversion of the answers' text, run here on the
// table tests/console_text.txt: each row's input, given as its reads, then
// as every split of it into two or three reads, with buffers of 6 to 16
// bytes and of 4096, must give the row's output.  A result longer than the
// buffer, a byte written past it, a request for no unit or after the end is
// a fault.   console_text_test TABLE
#include "platform/console_text.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

using namespace tq5::platform;

namespace {

// Table text: \xHH a byte, \uHHHH a UTF-16 unit (as three bytes F8 HH HH,
// for `units`), \t \r \n \\, a field ending *N repeated N times.
std::string unescape(std::string text) {
    std::size_t times = 1;
    if (const auto star = text.rfind('*'); star != text.npos && star + 1 < text.size()) {
        times = std::stoul(text.substr(star + 1));
        text.resize(star);
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (const char c = text[++i]; c == 'x' || c == 'u') {
            const auto value = std::stoul(text.substr(i + 1, c == 'x' ? 2 : 4), nullptr, 16);
            out += c == 'x' ? std::string(1, char(value))
                            : std::string{'\xf8', char(value >> 8), char(value)};
            i += c == 'x' ? 2 : 4;
        } else {
            out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        }
    }
    std::string repeated;
    while (times-- > 0)
        repeated += out;
    return repeated;
}

// UTF-8 (and F8 HH HH for a lone unit) as UTF-16 units.
std::u16string units(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t tail = lead < 0x80   ? 0
                                 : lead < 0xe0 ? 1
                                 : lead < 0xf0 ? 2
                                 : lead < 0xf8 ? 3
                                               : 4;
        const std::size_t size = tail == 4 ? 2 : tail; // after the lead
        char32_t code = tail == 4 ? 0 : lead & (0x7fu >> tail);
        for (std::size_t k = 1; k <= size; ++k)
            code = tail == 4 ? code << 8 | static_cast<unsigned char>(text[i + k])
                             : code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3fu);
        if (code >= 0x10000 && tail != 4)
            out += {char16_t(0xd800 + ((code - 0x10000) >> 10)), char16_t(0xdc00 + (code & 0x3ff))};
        else
            out += char16_t(code);
        i += 1 + size;
    }
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

template <class Unit, class Text> std::int64_t take(void* context, Unit* into, std::size_t count) {
    auto& s = *static_cast<source<Text>*>(context);
    s.bad |= count == 0 || (s.ended && sizeof(Unit) == 2) || (s.forms == "?" && count != 1);
    if (s.next == s.reads.size()) return s.ended = true, s.fails ? -1 : 0;
    Text& read = s.reads[s.next];
    const std::size_t taken = std::min(count, read.size());
    read.copy(into, taken);
    if constexpr (sizeof(Unit) == 2) s.ended |= read.substr(0, taken).find(u'\x1a') != read.npos;
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
        if constexpr (std::is_same_v<Text, std::u16string>)
            return read_typed(typed, {take<char16_t, Text>, &s}, buffer.data(), capacity);
        else
            return read_piped(piped, {take<char, Text>, announce, &s}, buffer.data(), capacity);
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

std::u16string latin1(const std::string& text) {
    std::u16string out;
    for (const char c : text)
        out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

template <class Text>
int check(const std::string& kind, const std::vector<Text>& reads, const std::string& wanted,
          int row) {
    Text whole;
    for (const Text& read : reads)
        whole += read;
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
                std::printf("\n");
                return 1;
            }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::ifstream table(argc > 1 ? argv[1] : "console_text.txt");
    int failures = 0, row = 0;
    for (std::string line; std::getline(table, line); ++row) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string field; std::getline(cells, field, '\t');)
            fields.push_back(field);
        if (line.ends_with('\t')) fields.emplace_back();
        if (fields.size() != 3 || fields[0][0] == '#') continue;
        const std::string& kind = fields[0];
        const std::string wanted = unescape(fields[2]);
        std::vector<std::string> reads;
        for (std::size_t at = 0, bar; at <= fields[1].size(); at = bar + 1) {
            bar = std::min(fields[1].find(" | ", at), fields[1].size());
            reads.push_back(unescape(fields[1].substr(at, bar - at)));
            if (bar < fields[1].size()) bar += 2;
        }
        if (kind == "ansi" || kind == "ansi-none") {
            const auto code_page =
                kind == "ansi" ? latin1 : +[](const std::string&) { return std::u16string{}; };
            if (answer_as_utf8(reads[0], code_page) == wanted) continue;
            std::printf("FAILED row %d\n", row);
            ++failures;
        } else if (kind == "piped") {
            failures += check(kind, reads, wanted, row);
        } else {
            std::vector<std::u16string> typed;
            for (const std::string& read : reads)
                typed.push_back(units(read));
            failures += check(kind, typed, wanted, row);
        }
    }
    std::printf(row == 0 ? "no table\n" : failures == 0 ? "all passed\n" : "%d failed\n", failures);
    return failures == 0 && row > 0 ? 0 : 1;
}
