#include "common/TextScan.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>

#include "common/TextWriter.h"

namespace polyvant::formats {
namespace {

struct Parsed {
    bool ok;
    double value;
    NumberError error;
    std::size_t used;
};

Parsed Parse(const std::string& text)
{
    // A buffer of exactly the text's size, so ASan sees a read past its end.
    std::unique_ptr<char[]> copy(new char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    double v = -1;
    NumberError e = NumberError::kNone;
    const char* end = ParseCoordinate(copy.get(), copy.get() + text.size(), v, e);
    return {end != nullptr, v, e,
            end ? static_cast<std::size_t>(end - copy.get()) : std::size_t(0)};
}

TEST(ParseCoordinate, ReadsPlainSignedAndExponentNumbers)
{
    EXPECT_EQ(Parse("1.5").value, 1.5);
    EXPECT_EQ(Parse("-0.25 ").value, -0.25);
    EXPECT_EQ(Parse("+2").value, 2.0);
    EXPECT_EQ(Parse("3e2").value, 300.0);
    EXPECT_EQ(Parse(".5").value, 0.5);
    EXPECT_EQ(Parse("7 8").used, 1u);
    EXPECT_EQ(Parse("1e-400").value, 0.0); // underflow to zero is harmless
}

TEST(ParseCoordinate, RefusesNonFiniteAndHugeValues)
{
    for (const char* text : {"nan", "NaN", "inf", "-inf", "infinity", "1e309", "-1e309"}) {
        const Parsed p = Parse(text);
        EXPECT_FALSE(p.ok) << text;
        EXPECT_EQ(p.error, NumberError::kNotFinite) << text;
    }
    EXPECT_EQ(Parse("1e31").error, NumberError::kTooLarge);
    EXPECT_TRUE(Parse("1e30").ok);
    EXPECT_EQ(Parse(std::string(4 << 20, '9')).error, NumberError::kNotFinite);
}

TEST(ParseCoordinate, RefusesTextThatIsNoNumber)
{
    for (const char* text : {"", "x", "-", "+", "+-1", "e5", "."})
        EXPECT_EQ(Parse(text).error, NumberError::kMissing) << '"' << text << '"';
}

// The short-decimal path against the general parser, bit for bit: every split of digits
// around the point, signs, exponents, terminators and distances from the buffer end.
TEST(ParseCoordinate, AgreesWithTheGeneralParserForEveryShape)
{
    std::mt19937_64 random(5);
    const std::string terminators[] = {"",  " ", "\n", "\r", "e",    "E",  "e5", "E-3",
                                       ".", "x", "/",  "#",  "\xff", "e+", "d2"};
    int compared = 0;
    for (int whole = 0; whole <= 10; ++whole)
        for (int fraction = -1; fraction <= 10; ++fraction)
            for (const std::string& tail : terminators)
                for (int trial = 0; trial < 12; ++trial) {
                    std::string text = trial % 3 == 0 ? "-" : "";
                    for (int d = 0; d < whole; ++d)
                        text += static_cast<char>('0' + random() % 10);
                    if (fraction >= 0)
                        text += '.';
                    for (int d = 0; d < fraction; ++d)
                        text += static_cast<char>('0' + random() % 10);
                    text += tail + std::string(trial * 2, trial % 2 ? '9' : ' ');
                    std::unique_ptr<char[]> copy(new char[text.size()]);
                    std::memcpy(copy.get(), text.data(), text.size());
                    const char* end = copy.get() + text.size();
                    double expected = 0, got = 0;
                    const auto ref = fast_float::from_chars(copy.get(), end, expected);
                    NumberError error = NumberError::kNone;
                    const char* ours = ParseCoordinate(copy.get(), end, got, error);
                    if (ref.ec != std::errc() || ref.ptr == copy.get() ||
                        !(std::fabs(expected) <= kMaxCoordinate)) {
                        EXPECT_EQ(ours, nullptr) << text;
                        continue;
                    }
                    ASSERT_EQ(ours, ref.ptr) << text;
                    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
                        << text << ": " << got << " against " << expected;
                    ++compared;
                }
    EXPECT_GT(compared, 10000);
}

// A reader may let the short path load past the end of a line (NumberRun), but the
// number must still end there: every cut of a token within a longer buffer reads as the
// general parser reads the cut text alone. A run of long numbers, which makes the run
// skip the short path for a while, changes no result either.
TEST(ParseCoordinate, ReadsOnlyUpToTheEndItIsGivenWhateverItMayLoad)
{
    std::mt19937_64 random(11);
    const std::string tokens[] = {
        "-12.5", "3.25e2", "0.125",      "7", "-0.000001", "1234567.1234567",
        ".5",    "5.",     "12345678.5", "-", "1.5.5"};
    for (const std::string& token : tokens) {
        const std::string text = token + " 987654321.123456789 \n";
        for (std::size_t cut = 0; cut <= token.size() + 1; ++cut) {
            NumberRun run(text.data() + text.size());
            double expected = 0, got = 0;
            const auto ref = fast_float::from_chars(text.data(), text.data() + cut, expected);
            NumberError error = NumberError::kNone;
            const char* ours = ParseCoordinate(text.data(), text.data() + cut, got, error, &run);
            if (ref.ec != std::errc() || ref.ptr == text.data()) {
                EXPECT_EQ(ours, nullptr) << token << " cut at " << cut;
                continue;
            }
            ASSERT_EQ(ours, ref.ptr) << token << " cut at " << cut;
            EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << token << " cut at " << cut;
        }
    }
    std::string many;
    for (int i = 0; i < 3000; ++i) {
        char number[40];
        const double x = std::ldexp(double(random() >> 11), -53) * 100 - 50;
        many += std::string(number, std::size_t(std::snprintf(number, sizeof number,
                                                              i < 2000 ? "%.17g " : "%.4f ", x)));
    }
    NumberRun run(many.data() + many.size());
    const char* p = many.data();
    const char* end = many.data() + many.size();
    int read = 0;
    while (p != end) {
        double expected = 0, got = 0;
        const auto ref = fast_float::from_chars(p, end, expected);
        NumberError error = NumberError::kNone;
        const char* ours = ParseCoordinate(p, end, got, error, &run);
        ASSERT_EQ(ours, ref.ptr) << read;
        ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << read;
        p = ours + 1;
        ++read;
    }
    EXPECT_EQ(read, 3000);
}

TEST(ParseInteger, RefusesOverflowAndJunk)
{
    std::int64_t v = 0;
    const std::string big = "99999999999999999999";
    EXPECT_EQ(ParseInteger(big.data(), big.data() + big.size(), v), nullptr);
    const std::string neg = "-12/3";
    EXPECT_EQ(ParseInteger(neg.data(), neg.data() + neg.size(), v), neg.data() + 3);
    EXPECT_EQ(v, -12);
    const std::string max = "9223372036854775807", over = "9223372036854775808";
    EXPECT_EQ(ParseInteger(max.data(), max.data() + max.size(), v), max.data() + max.size());
    EXPECT_EQ(v, INT64_MAX);
    EXPECT_EQ(ParseInteger(over.data(), over.data() + over.size(), v), nullptr);
    const std::string junk = "/5";
    EXPECT_EQ(ParseInteger(junk.data(), junk.data() + junk.size(), v), nullptr);
}

// The eight-at-a-time path against std::from_chars: every length, sign, terminator and
// position near the end of an exact-size buffer.
TEST(ParseInteger, AgreesWithFromCharsForEveryLengthAndTerminator)
{
    std::mt19937_64 random(3);
    const std::string terminators[] = {"", " ", "\n", "/", "x", ".", "#", ":", "\x7f", "\xff"};
    for (int digits = 1; digits <= 19; ++digits)
        for (const std::string& tail : terminators)
            for (int trial = 0; trial < 20; ++trial) {
                std::string text = trial % 3 == 0 ? "-" : "";
                for (int d = 0; d < digits; ++d)
                    text += static_cast<char>('0' + random() % 10);
                text += tail + std::string(trial % 9, '7');
                std::unique_ptr<char[]> copy(new char[text.size()]);
                std::memcpy(copy.get(), text.data(), text.size());
                const char* end = copy.get() + text.size();
                std::int64_t expected = 0, got = 0;
                const auto ref = std::from_chars(copy.get(), end, expected);
                const char* ours = ParseInteger(copy.get(), end, got);
                if (ref.ec != std::errc()) {
                    EXPECT_EQ(ours, nullptr) << text;
                    continue;
                }
                ASSERT_EQ(ours, ref.ptr) << text;
                EXPECT_EQ(got, expected) << text;
            }
}

TEST(LineCursor, SplitsLfCrlfAndAMissingFinalNewline)
{
    const std::string text = "a\r\nbb\n\nccc";
    LineCursor cursor(text.data(), text.data() + text.size());
    std::vector<std::string> lines;
    const char *b, *e;
    while (cursor.Next(b, e))
        lines.emplace_back(b, TrimEnd(b, e));
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "bb", "", "ccc"}));
    EXPECT_EQ(cursor.Line(), 4u);
}

TEST(Messages, NameFileAndLineOrOffset)
{
    EXPECT_EQ(LineMessage("m.obj", 12, "bad"), "m.obj: line 12: bad");
    EXPECT_EQ(OffsetMessage("m.stl", 84, "short"), "m.stl: offset 84: short");
    EXPECT_EQ(Printable("a\x01"
                        "b",
                        "a\x01"
                        "b" +
                            3),
              "a?b");
}

} // namespace
} // namespace polyvant::formats
