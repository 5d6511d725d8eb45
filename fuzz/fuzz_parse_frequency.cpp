// Any text typed into a frequency field: ParseFrequency gives -1, a positive finite float
// or the overflow error, and agrees with the C library's own correctly rounded strtof on
// every text of the field grammar.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"

namespace {

[[noreturn]] void Fail(const std::string& text, const char* what, float got) {
    std::fprintf(stderr, "ParseFrequency(\"%s\") = %.9g: %s\n", text.c_str(), got, what);
    std::abort();
}

// The field grammar as a table-driven automaton: leading blanks, a sign, digits with an
// optional point ("5." and ".5" count), an optional exponent with at least one digit.
bool InGrammar(const std::string& s) {
    enum State { Start, Sign, Int, IntPoint, Point, Frac, E, ESign, Exp, Reject };
    State state = Start;
    for (const char c : s) {
        const bool digit = c >= '0' && c <= '9';
        const bool sign = c == '+' || c == '-';
        const bool point = c == '.';
        const bool e = c == 'e' || c == 'E';
        switch (state) {
        case Start:
            state = c == ' ' ? Start : sign ? Sign : digit ? Int : point ? Point : Reject;
            break;
        case Sign:
            state = digit ? Int : point ? Point : Reject;
            break;
        case Int:
            state = digit ? Int : point ? IntPoint : e ? E : Reject;
            break;
        case IntPoint:
        case Frac:
            state = digit ? Frac : e ? E : Reject;
            break;
        case Point:
            state = digit ? Frac : Reject;
            break;
        case E:
            state = sign ? ESign : digit ? Exp : Reject;
            break;
        case ESign:
        case Exp:
            state = digit ? Exp : Reject;
            break;
        case Reject:
            return false;
        }
    }
    return state == Int || state == IntPoint || state == Frac || state == Exp;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    bool overflow = false;
    float got = 0;
    try {
        got = tarn::ParseFrequency(text);
    } catch (const tarn::FloatOverflowError&) {
        overflow = true;
    }
    if (!overflow && got != -1.0f && !(std::isfinite(got) && got > 0.0f))
        Fail(text, "neither -1 nor a positive finite value", got);

    // The reference: the first comma is a decimal point, then the grammar decides, and
    // strtof (locale "C") rounds the number to the nearest float.
    std::string s = text;
    if (const auto comma = s.find(','); comma != std::string::npos) s[comma] = '.';
    if (!InGrammar(s)) {
        if (overflow || got != -1.0f) Fail(text, "accepted a text outside the grammar", got);
        return 0;
    }
    char* end = nullptr;
    errno = 0;
    const float expected = std::strtof(s.c_str(), &end);
    if (end != s.c_str() + s.size()) {
        // strtof stops at a NUL byte; the grammar has none, so this cannot happen.
        Fail(text, "reference did not read the whole text", got);
    }
    if (std::isinf(expected)) {
        if (!overflow) Fail(text, "did not overflow", got);
    } else if (overflow) {
        Fail(text, "overflowed on a value a float holds", got);
    } else if (!(expected > 0.0f)) {
        if (got != -1.0f) Fail(text, "zero or negative value was not -1", got);
    } else if (got != expected) {
        std::fprintf(stderr, "expected %.9g\n", expected);
        Fail(text, "differs from the correctly rounded value", got);
    }
    return 0;
}
