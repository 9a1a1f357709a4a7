#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace polyvant::test {

struct DamagedCopy {
    std::string label; // what was done, for failure messages
    std::string bytes;
};

// `count` damaged copies of original, the same for the same seed on every run: every
// other copy truncated (the cuts spread over the file), the rest in turn with flipped
// bytes, 4-byte fields set to huge values, duplicated lines, extreme numbers.
std::vector<DamagedCopy> MakeDamagedCopies(const std::string& original, std::uint64_t seed,
                                           int count);

// A stable seed from a text (the sample's name), so each file gets its own copies.
std::uint64_t SeedFrom(const std::string& text);

} // namespace polyvant::test
