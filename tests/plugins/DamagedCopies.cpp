#include "DamagedCopies.h"

#include <algorithm>
#include <cctype>

namespace polyvant::test {
namespace {

// splitmix64: small, and the same sequence everywhere (unlike std distributions).
class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 ... n - 1; n > 0.
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }

private:
    std::uint64_t state;
};

DamagedCopy Truncated(const std::string& original, int index, int count, Random& random)
{
    const std::size_t size = original.size();
    std::size_t at =
        size * static_cast<std::size_t>(index + 1) / static_cast<std::size_t>(count + 1);
    if (size > 8)
        at = std::min(size - 1, at + random.Below(7));
    return {"truncated at " + std::to_string(at), original.substr(0, at)};
}

DamagedCopy FlippedBytes(std::string bytes, Random& random)
{
    const std::size_t flips = 1 + random.Below(8);
    std::string label = "flipped bytes at";
    for (std::size_t i = 0; i < flips && !bytes.empty(); ++i) {
        const std::size_t at = random.Below(bytes.size());
        bytes[at] = static_cast<char>(bytes[at] ^ static_cast<char>(1 + random.Below(255)));
        label.append(" ").append(std::to_string(at));
    }
    return {label, std::move(bytes)};
}

DamagedCopy HugeFields(std::string bytes, Random& random)
{
    static const std::uint32_t kValues[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u,
                                            0x0000FFFFu, 0x40000000u, 0x15555556u};
    std::string label = "4-byte fields set at";
    if (bytes.size() < 4)
        return {"too short for a field", bytes};
    const std::size_t fields = 1 + random.Below(3);
    for (std::size_t i = 0; i < fields; ++i) {
        // Binary formats align most counts and lengths to 2 or 4 bytes.
        std::size_t at = random.Below(bytes.size() - 3);
        if (random.Below(2) == 0)
            at &= ~std::size_t(1);
        const std::uint32_t value = kValues[random.Below(std::size(kValues))];
        for (int b = 0; b < 4; ++b)
            bytes[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
        label.append(" ").append(std::to_string(at));
    }
    return {label, std::move(bytes)};
}

DamagedCopy DuplicatedLine(std::string bytes, Random& random)
{
    std::vector<std::size_t> starts = {0};
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == '\n')
            starts.push_back(i + 1);
    }
    if (starts.size() < 2) { // no lines: repeat a run of bytes instead
        if (bytes.empty())
            return {"empty", bytes};
        const std::size_t at = random.Below(bytes.size());
        const std::size_t length = std::min<std::size_t>(bytes.size() - at, 16 + random.Below(240));
        bytes.insert(at, bytes.substr(at, length));
        return {"repeated " + std::to_string(length) + " bytes at " + std::to_string(at), bytes};
    }
    const std::size_t line = random.Below(starts.size() - 1);
    const std::size_t begin = starts[line];
    const std::size_t end = starts[line + 1];
    const std::size_t times = 1 + random.Below(3);
    const std::string text = bytes.substr(begin, end - begin);
    for (std::size_t i = 0; i < times; ++i)
        bytes.insert(end, text);
    return {"line " + std::to_string(line + 1) + " repeated", std::move(bytes)};
}

DamagedCopy ExtremeNumber(std::string bytes, Random& random)
{
    static const char* const kNumbers[] = {
        "99999999999999999999", "-2147483649", "4294967296", "1e309", "nan", "-inf", "0", "-1"};
    std::vector<std::size_t> digitRuns;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(bytes[i])) &&
            (i == 0 || !std::isdigit(static_cast<unsigned char>(bytes[i - 1]))))
            digitRuns.push_back(i);
    }
    if (digitRuns.empty())
        return HugeFields(std::move(bytes), random);
    const std::size_t begin = digitRuns[random.Below(digitRuns.size())];
    std::size_t end = begin;
    while (end < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[end])))
        ++end;
    const char* number = kNumbers[random.Below(std::size(kNumbers))];
    bytes.replace(begin, end - begin, number);
    return {std::string("number at ") + std::to_string(begin) + " replaced by " + number,
            std::move(bytes)};
}

} // namespace

std::uint64_t SeedFrom(const std::string& text)
{
    std::uint64_t hash = 0xCBF29CE484222325ull; // FNV-1a
    for (unsigned char c : text)
        hash = (hash ^ c) * 0x100000001B3ull;
    return hash;
}

std::vector<DamagedCopy> MakeDamagedCopies(const std::string& original, std::uint64_t seed,
                                           int count)
{
    Random random(seed);
    std::vector<DamagedCopy> copies;
    // Every other copy is a truncation, spread over the whole file: cut-off files are
    // the damage met most often.
    const int truncations = (count + 1) / 2;
    for (int i = 0; i < count; ++i) {
        if (i % 2 == 0) {
            copies.push_back(Truncated(original, i / 2, truncations, random));
            continue;
        }
        switch ((i / 2) % 4) {
        case 0:
            copies.push_back(FlippedBytes(original, random));
            break;
        case 1:
            copies.push_back(HugeFields(original, random));
            break;
        case 2:
            copies.push_back(DuplicatedLine(original, random));
            break;
        default:
            copies.push_back(ExtremeNumber(original, random));
            break;
        }
    }
    return copies;
}

} // namespace polyvant::test
