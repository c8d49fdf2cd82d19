// The Windows program's conversion of the answers' text, run here on reads
// given by the test: UTF-16 typed at a console into UTF-8, answers from a
// pipe after a byte-order mark, and the choice between UTF-8 and the ANSI
// code page for an answer from a pipe.
#include "platform/console_text.hpp"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

using tq5::platform::answer_as_utf8;
using tq5::platform::answer_form;
using tq5::platform::piped_answers;
using tq5::platform::read_piped;
using tq5::platform::read_typed;
using tq5::platform::smallest_answer_buffer;
using tq5::platform::typed_answers;
using namespace std::literals;

namespace {

int failures = 0;

void expect(const std::string& got, const std::string& wanted, const std::string& what) {
    if (got == wanted) return;
    ++failures;
    std::printf("FAILED %s:\n  got   ", what.c_str());
    for (const char c : got)
        std::printf(" %02x", static_cast<unsigned char>(c));
    std::printf("\n  wanted");
    for (const char c : wanted)
        std::printf(" %02x", static_cast<unsigned char>(c));
    std::printf("\n");
}

// A console that hands out the given reads in turn, each in as many pieces
// as the requests take, and then the end (or an error).
struct console {
    std::vector<std::u16string> reads;
    std::size_t next = 0;
    bool fails_at_end = false;
    bool ended = false;       // the end, or Ctrl-Z, was handed out
    bool bad_request = false; // for no unit, or after the end
};

std::int64_t read_units(void* context, char16_t* units, std::size_t count) {
    auto& c = *static_cast<console*>(context);
    if (count == 0 || c.ended) c.bad_request = true;
    if (c.next == c.reads.size()) {
        c.ended = true;
        return c.fails_at_end ? -1 : 0;
    }
    std::u16string& read = c.reads[c.next];
    const std::size_t taken = std::min(count, read.size());
    read.copy(units, taken);
    if (read.substr(0, taken).find(u'\x1a') != std::u16string::npos) c.ended = true;
    read.erase(0, taken);
    if (read.empty()) ++c.next;
    return static_cast<std::int64_t>(taken);
}

// Everything that the reads give with a buffer of `capacity` bytes, then the
// end for good; "<error>" added where a read failed.  A result longer than
// the buffer, a byte written past it or a bad request is a fault.
std::string typed(std::vector<std::u16string> reads, std::size_t capacity, bool fails = false) {
    console c{std::move(reads), 0, fails};
    typed_answers answers;
    std::string text;
    std::string buffer(capacity + 8, '#');
    std::int64_t got = 0;
    while ((got = read_typed(answers, {read_units, &c}, buffer.data(), capacity)) > 0) {
        if (static_cast<std::size_t>(got) > capacity) return "<too long>";
        text.append(buffer, 0, static_cast<std::size_t>(got));
    }
    if (got < 0) return text + "<error>";
    for (int again = 0; again < 2; ++again)
        if (read_typed(answers, {read_units, &c}, buffer.data(), capacity) != 0)
            return "<more after the end>";
    if (buffer.substr(capacity) != std::string(8, '#')) return "<past the buffer>";
    if (c.bad_request) return "<bad request>";
    return text;
}

std::string what(const char* name, std::size_t capacity, const std::string& splits = "") {
    return std::string(name) + ", buffer " + std::to_string(capacity) + splits;
}

// A pipe that hands out the given reads in turn, each in as many pieces as
// the requests take, and then the end.  `forms` holds a letter for each form
// announced: ? (looking for a mark), b (bytes), l and B (UTF-16 LE and BE).
struct pipe {
    std::vector<std::string> reads;
    std::size_t next = 0;
    std::string forms;
    bool bad_request = false; // for no byte, or more than one while looking for a mark
};

std::int64_t read_bytes(void* context, char* bytes, std::size_t count) {
    auto& p = *static_cast<pipe*>(context);
    if (count == 0 || (p.forms == "?" && count != 1)) p.bad_request = true;
    if (p.next == p.reads.size()) return 0;
    std::string& read = p.reads[p.next];
    const std::size_t taken = std::min(count, read.size());
    read.copy(bytes, taken);
    read.erase(0, taken);
    if (read.empty()) ++p.next;
    return static_cast<std::int64_t>(taken);
}

void reading_as(void* context, answer_form form) {
    static_cast<pipe*>(context)->forms += "?blB"[static_cast<int>(form)];
}

// The forms announced, a blank and everything that the reads give with a
// buffer of `capacity` bytes; faults as in `typed`.
std::string piped(std::vector<std::string> reads, std::size_t capacity) {
    pipe p{std::move(reads), 0, "", false};
    piped_answers answers;
    std::string text;
    std::string buffer(capacity + 8, '#');
    std::int64_t got = 0;
    while ((got = read_piped(answers, {read_bytes, reading_as, &p}, buffer.data(), capacity)) > 0) {
        if (static_cast<std::size_t>(got) > capacity) return "<too long>";
        text.append(buffer, 0, static_cast<std::size_t>(got));
    }
    if (got < 0 || read_piped(answers, {read_bytes, reading_as, &p}, buffer.data(), capacity) != 0)
        return "<error or more after the end>";
    if (buffer.substr(capacity) != std::string(8, '#')) return "<past the buffer>";
    if (p.bad_request) return "<bad request>";
    return p.forms + " " + text;
}

// The units as UTF-16 bytes after their mark, little- or big-endian.
std::string utf16(const std::u16string& units, bool little) {
    std::string bytes = little ? "\xff\xfe" : "\xfe\xff";
    for (const char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xff);
        bytes += little ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}

// The ANSI code page of the tests: Latin-1, each byte the code point.
std::u16string latin1(const std::string& text) {
    std::u16string units;
    for (const char c : text)
        units += static_cast<char16_t>(static_cast<unsigned char>(c));
    return units;
}

std::u16string no_code_page(const std::string&) {
    return {};
}

} // namespace

int main() {
    // A letter of two bytes and two of three, two surrogate pairs between
    // ASCII, every unit boundary a split between two reads or three.
    const std::u16string text = u"A\u00e9\U0001F600\u57fa\U00010348\u7ec4Z";
    const std::string utf8 = "A\xc3\xa9\xf0\x9f\x98\x80\xe5\x9f\xba\xf0\x90\x8d\x88\xe7\xbb\x84Z";
    for (std::size_t capacity = smallest_answer_buffer; capacity <= 16; ++capacity) {
        expect(typed({text}, capacity), utf8, what("one read", capacity));
        for (std::size_t i = 1; i < text.size(); ++i) {
            expect(typed({text.substr(0, i), text.substr(i)}, capacity), utf8,
                   what("two reads", capacity, " at " + std::to_string(i)));
            for (std::size_t j = i + 1; j < text.size(); ++j)
                expect(typed({text.substr(0, i), text.substr(i, j - i), text.substr(j)}, capacity),
                       utf8,
                       what("three reads", capacity,
                            " at " + std::to_string(i) + "," + std::to_string(j)));
        }
        // Each unit on its own read; a buffer full of three-byte letters.
        std::vector<std::u16string> units;
        for (const char16_t unit : text)
            units.push_back(std::u16string(1, unit));
        expect(typed(units, capacity), utf8, what("a read a unit", capacity));
        expect(typed({u"\u57fa\u57fa\u57fa\u57fa\u57fa\u57fa"}, capacity),
               "\xe5\x9f\xba\xe5\x9f\xba\xe5\x9f\xba\xe5\x9f\xba\xe5\x9f\xba\xe5\x9f\xba",
               what("three-byte letters", capacity));
    }
    // More units than the reader holds at once.
    std::string many_utf8;
    for (int i = 0; i < 3000; ++i)
        many_utf8 += "\xe5\x9f\xba";
    expect(typed({std::u16string(3000, u'\u57fa')}, 4096), many_utf8, "3000 letters");
    expect(typed({std::u16string(2000, u'x')}, 8192), std::string(2000, 'x'), "2000 ASCII");

    // Ctrl-Z ends the answers; what follows it is never read.
    for (std::size_t capacity : {smallest_answer_buffer, std::size_t{4096}}) {
        expect(typed({u"ab\032cd", u"ef"}, capacity), "ab", what("Ctrl-Z", capacity));
        expect(typed({u"\032ab"}, capacity), "", what("Ctrl-Z first", capacity));
        expect(typed({u"ab", u"c\032", u"d"}, capacity), "abc", what("Ctrl-Z later", capacity));
        expect(typed({u"a\xd83d", u"\032\xde00"}, capacity), "a\xef\xbf\xbd",
               what("Ctrl-Z after a first half", capacity));
        expect(typed({u"ab"}, capacity, true), "ab<error>", what("read error", capacity));
    }

    // A surrogate without its other half becomes U+FFFD, but for a first
    // half that the end of the input cuts off: that one is dropped.
    const std::string fffd = "\xef\xbf\xbd";
    for (std::size_t capacity : {smallest_answer_buffer, std::size_t{7}, std::size_t{4096}}) {
        expect(typed({u"a\xd800z"}, capacity), "a" + fffd + "z", what("lone first", capacity));
        expect(typed({u"a\xdc00z"}, capacity), "a" + fffd + "z", what("lone second", capacity));
        expect(typed({u"\xd800\xd83d\xde00"}, capacity), fffd + "\xf0\x9f\x98\x80",
               what("two first halves", capacity));
        expect(typed({u"\xde00\xd83d"}, capacity), fffd, what("halves reversed", capacity));
        expect(typed({u"a\xd800", u"z"}, capacity), "a" + fffd + "z",
               what("first half, then a letter", capacity));
        expect(typed({u"a\xd800", u"\xd800"}, capacity), "a" + fffd,
               what("first half twice at the end", capacity));
        expect(typed({u"a", u"\xdc00"}, capacity), "a" + fffd, what("second at the end", capacity));
        expect(typed({u"a\xd800"}, capacity), "a", what("first half at the end", capacity));
    }

    // From a pipe: the bytes as they come without a mark, the UTF-8 mark
    // dropped, and nothing read beyond a mark before its form is announced.
    const std::string mark8 = "\xef\xbb\xbf";
    expect(piped({"in.gb g\n"}, 6), "?b in.gb g\n", "no mark");
    expect(piped({mark8 + "M\xc3\xbcller.gb\n"}, 6), "?b M\xc3\xbcller.gb\n", "UTF-8 mark");
    expect(piped({"\xef\xbb", "\xbf", "g"}, 6), "?b g", "UTF-8 mark in pieces");
    expect(piped({mark8}, 6), "?b ", "UTF-8 mark alone");
    for (const std::string start :
         {"\xef", "\xef\xbb", "\xef\xbbx", "\xff", "\xfe", "\xff\xff", "x"})
        expect(piped({start}, 6), "?b " + start, "part of a mark: " + start);
    expect(piped({"\xef\x1a", "ab"}, 6), "?b \xef", "Ctrl-Z in a part of a mark");
    expect(piped({}, 6), "?b ", "nothing");
    expect(piped({"\xff\xfe"}, 6), "?l ", "UTF-16LE mark alone");

    // UTF-16 either way, with white space and a pair, every byte boundary a
    // split between two reads or three.
    const std::u16string words = u"M\u00fcller.gb\r\n\u57fa\t\U0001F600 q\n";
    const std::string words8 = "M\xc3\xbcller.gb\r\n\xe5\x9f\xba\t\xf0\x9f\x98\x80 q\n";
    for (const bool little : {true, false}) {
        const std::string bytes = utf16(words, little);
        const std::string wanted = (little ? "?l " : "?B ") + words8;
        for (std::size_t capacity : {smallest_answer_buffer, std::size_t{7}, std::size_t{4096}})
            for (std::size_t i = 1; i < bytes.size(); ++i)
                for (std::size_t j = i + 1; j <= bytes.size(); ++j) {
                    std::vector<std::string> reads{bytes.substr(0, i), bytes.substr(i, j - i)};
                    if (j < bytes.size()) reads.push_back(bytes.substr(j));
                    expect(piped(reads, capacity), wanted,
                           what(little ? "UTF-16LE" : "UTF-16BE", capacity,
                                " at " + std::to_string(i) + "," + std::to_string(j)));
                }
    }
    // Invalid UTF-16 gives U+FFFD, never a NUL; the unit Ctrl-Z ends the
    // answers, a byte 26 inside another unit does not.
    const std::string_view bad[][2] = {
        {"a\0b"sv, "a\xef\xbf\xbd"sv},          // an odd byte at the end
        {"a\0\0\xd8z\0"sv, "a\xef\xbf\xbdz"sv}, // a lone first half
        {"a\0\0\xdcz\0"sv, "a\xef\xbf\xbdz"sv}, // a lone second half
        {"a\0\0\xd8"sv, "a\xef\xbf\xbd"sv},     // a first half at the end
        {"a\0\0\0z\0"sv, "a\xef\xbf\xbdz"sv},   // the unit 0
        {"a\0\x1a\0z\0"sv, "a"sv},              // Ctrl-Z
        {"\x1a\x01z\0"sv, "\xc4\x9az"sv}};      // U+011A
    for (const auto& [units, decoded] : bad)
        for (std::size_t capacity : {smallest_answer_buffer, std::size_t{4096}})
            expect(piped({"\xff\xfe" + std::string(units)}, capacity), "?l " + std::string(decoded),
                   what("bad UTF-16", capacity));

    // From a pipe: valid UTF-8 kept as it is, including the forms at the edges
    // of the ranges; anything else read in the ANSI code page.
    for (const std::string valid :
         {"in.gb", "M\xc3\xbcller.gb", "\xc2\x80", "\xdf\xbf", "\xe0\xa0\x80", "\xed\x9f\xbf",
          "\xee\x80\x80", "\xef\xbf\xbf", "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf", "\xe5\x9f\xba"})
        expect(answer_as_utf8(valid, latin1), valid, "valid UTF-8");
    const char* const invalid[][2] = {
        {"M\xfcller", "M\xc3\xbcller"},                           // Latin-1
        {"\xc0\x80", "\xc3\x80\xc2\x80"},                         // overlong
        {"\xc1\xbf", "\xc3\x81\xc2\xbf"},                         // overlong
        {"\xe0\x9f\xbf", "\xc3\xa0\xc2\x9f\xc2\xbf"},             // overlong
        {"\xf0\x8f\xbf\xbf", "\xc3\xb0\xc2\x8f\xc2\xbf\xc2\xbf"}, // overlong
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},             // a surrogate
        {"\xf4\x90\x80\x80", "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"}, // past U+10FFFF
        {"\xf5\x80\x80\x80", "\xc3\xb5\xc2\x80\xc2\x80\xc2\x80"}, // past U+10FFFF
        {"ab\xe5\x9f", "ab\xc3\xa5\xc2\x9f"},                     // cut short
        {"\xe5\x9fz", "\xc3\xa5\xc2\x9fz"},                       // cut short
        {"\x80", "\xc2\x80"},                                     // no lead byte
        {"\xc3\xbc\xff", "\xc3\x83\xc2\xbc\xc3\xbf"}};            // valid, then not
    for (const auto& [answer, name] : invalid)
        expect(answer_as_utf8(answer, latin1), name, std::string("ANSI ") + answer);
    expect(answer_as_utf8("M\xfcller", no_code_page), "M\xfcller", "not in the code page");

    std::printf(failures == 0 ? "all passed\n" : "%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
