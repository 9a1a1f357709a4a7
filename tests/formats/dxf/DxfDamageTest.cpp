#include <gtest/gtest.h>
#include <random>

#include "DxfTestSupport.h"
#include "FormatTestSupport.h"

namespace polyvant::formats::test {
namespace {

// A damaged file either reads into meshes that keep every invariant or is refused
// with a message; it never crashes or reads out of bounds (run under ASan/UBSan).
void ExpectSafe(const std::string& bytes, const std::string& what)
{
    const DxfRead r = ReadDxfText(bytes);
    SCOPED_TRACE(what);
    if (!r.ok) {
        EXPECT_FALSE(r.error.empty());
        EXPECT_TRUE(r.meshes.empty());
        return;
    }
    for (const auto& mesh : r.meshes) {
        ASSERT_NE(mesh, nullptr);
        ExpectValidMesh(*mesh);
    }
}

class DxfDamagedCopy : public testing::TestWithParam<const char*> {};

TEST_P(DxfDamagedCopy, TruncatedCopiesAreSafe)
{
    const std::string bytes = ReadBytes(TestData(GetParam()));
    ASSERT_FALSE(bytes.empty());
    const std::size_t step = bytes.size() / 40 + 1;
    for (std::size_t n = 0; n < bytes.size(); n += step)
        ExpectSafe(bytes.substr(0, n), "cut at " + std::to_string(n));
    for (std::size_t n = bytes.size() - std::min<std::size_t>(bytes.size(), 8); n < bytes.size();
         ++n)
        ExpectSafe(bytes.substr(0, n), "cut at " + std::to_string(n));
}

TEST_P(DxfDamagedCopy, CopiesWithChangedBytesAreSafe)
{
    const std::string bytes = ReadBytes(TestData(GetParam()));
    std::mt19937 random(1234); // fixed: the same copies every run
    const char replacements[] = {'\n', '\r', '0', '9', '-', 'e', '.', ' ', '\0', 'X', '\xff'};
    for (int i = 0; i < 40; ++i) {
        std::string copy = bytes;
        for (int k = 0; k < 3; ++k) {
            const std::size_t at = random() % copy.size();
            copy[at] = replacements[random() % sizeof replacements];
        }
        ExpectSafe(copy, "copy " + std::to_string(i));
    }
}

INSTANTIATE_TEST_SUITE_P(SharedSamples, DxfDamagedCopy,
                         testing::Values("dxf/3dface.dxf", "dxf/Minimal_DXF_AC1006.dxf",
                                         "dxf/POLI-ALL210_12.DXF", "dxf/PinkEggFromLW.dxf",
                                         "dxf/issue_2229.dxf", "dxf/lineTest.dxf", "dxf/points.dxf",
                                         "dxf/rifle.dxf", "dxf/wuson.dxf"));

TEST(DxfDamage, CountsAndIndicesAtTheirLimitsAreSafe)
{
    const std::string head = "0\nSECTION\n2\nENTITIES\n0\nPOLYLINE\n8\nM\n70\n64\n";
    const std::string vertex = "0\nVERTEX\n10\n0\n20\n0\n30\n0\n70\n192\n";
    for (const char* value : {"0", "-1", "2147483647", "-2147483648", "4294967296",
                              "9223372036854775807", "99999999999999999999", "1e9", "x"}) {
        std::string text = head + "71\n3\n72\n1\n" + vertex + vertex + vertex;
        text += std::string("0\nVERTEX\n70\n128\n71\n1\n72\n2\n73\n") + value + "\n";
        text += "0\nSEQEND\n0\nENDSEC\n0\nEOF\n";
        ExpectSafe(text, std::string("index ") + value);
        ExpectSafe(head + "71\n" + value + "\n72\n" + value + "\n" + vertex + "0\nSEQEND\n",
                   std::string("count ") + value);
    }
}

TEST(DxfDamage, AFourMegabyteNumberIsRefusedNotHung)
{
    std::string text = "0\nSECTION\n2\nENTITIES\n0\n3DFACE\n10\n";
    text += std::string(4u << 20, '7');
    text += "\n0\nENDSEC\n0\nEOF\n";
    const DxfRead r = ReadDxfText(text);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.meshes.empty());
    EXPECT_EQ(r.warnings.size(), 1u);
}

} // namespace
} // namespace polyvant::formats::test
