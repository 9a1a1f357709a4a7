#include <ImportCheck.h>
#include <PluginLibrary.h>
#include <gtest/gtest.h>

#include <polyvant/Plugin.h>

#include "TestSupport.h"

namespace polyvant {
namespace {

struct Scenario {
    const char* file; // its base name chooses what the fixture hands over
    std::vector<std::string> kept;
    const char* problemObject; // null when nothing is skipped
    const char* problemReason;
};

class ImportCheck : public testing::TestWithParam<Scenario> {};

std::vector<std::string> Names(const CheckedImport& checked)
{
    std::vector<std::string> names;
    for (const Obj3d* object : checked.objects)
        names.push_back(object->name);
    return names;
}

TEST_P(ImportCheck, SkipsWhatIsInvalidAndKeepsTheRest)
{
    const Scenario& scenario = GetParam();
    PluginLibrary library(test::FixturePath("fixture_bad_data.so").c_str());
    ASSERT_EQ(library.GetStatus(), PluginLibrary::kLoaded) << library.Reason();
    auto* importer = static_cast<Importer*>(library.libClassDescription(0)->Create());
    const CheckedImport checked = CheckImportedList(importer->ImportFile(scenario.file));
    EXPECT_EQ(Names(checked), scenario.kept);
    if (!scenario.problemObject) {
        EXPECT_TRUE(checked.problems.empty()) << checked.problems[0].reason;
    } else {
        ASSERT_EQ(checked.problems.size(), 1u);
        EXPECT_EQ(checked.problems[0].object, scenario.problemObject);
        EXPECT_NE(checked.problems[0].reason.find(scenario.problemReason), std::string::npos)
            << checked.problems[0].reason;
    }
    importer->Release();
}

const std::vector<std::string> kGoodPair = {"first good", "last good"};

INSTANTIATE_TEST_SUITE_P(
    HandedOver, ImportCheck,
    testing::Values(
        Scenario{"fine.fxb", {"first good", "fine", "last good"}, nullptr, nullptr},
        Scenario{"index.fxb", kGoodPair, "index", "face 2 uses vertex 4 of 4"},
        Scenario{"hugeindex.fxb", kGoodPair, "hugeindex", "uses vertex 4294967295"},
        Scenario{"nullvertices.fxb", kGoodPair, "nullvertices", "no vertex data"},
        Scenario{"nullfaces.fxb", kGoodPair, "nullfaces", "no face data"},
        Scenario{"nan.fxb", kGoodPair, "nan", "vertex 1 has a non-finite"},
        Scenario{"inf.fxb", kGoodPair, "inf", "vertex 3 has a non-finite"},
        Scenario{"bounds.fxb", kGoodPair, "bounds", "bounds"},
        Scenario{"topology.fxb", kGoodPair, "topology", "with topology"},
        Scenario{"other.fxb", {"first good", "type seven", "other", "last good"}, nullptr, nullptr},
        Scenario{"nullitem.fxb", {"first good", "nullitem", "last good"}, "object 2", "null item"},
        Scenario{"countlow.fxb", {"first good", "countlow"}, "list", "more nodes than the count"},
        Scenario{"counthigh.fxb", {"first good", "counthigh"}, "list", "count 1000 but only 2"},
        Scenario{"countnegative.fxb", {}, "list", "negative"},
        Scenario{"loop.fxb", {"first good", "loop"}, "list", "loop"}),
    [](const auto& test) {
        std::string name = test.param.file;
        return name.substr(0, name.find('.'));
    });

TEST(ImportCheckTest, ANullListYieldsNothing)
{
    const CheckedImport checked = CheckImportedList(nullptr);
    EXPECT_TRUE(checked.objects.empty());
    EXPECT_TRUE(checked.problems.empty());
}

TEST(ImportCheckTest, AnEmptyMeshIsUsable)
{
    Mesh3d mesh("empty", Mesh3d::kFlat);
    EXPECT_EQ(CheckMesh(mesh), "");
    mesh.vertexCount = 0xFFFFFFFFu; // a bogus count without data
    EXPECT_NE(CheckMesh(mesh).find("no vertex data"), std::string::npos);
}

TEST(ImportCheckTest, PluginTextRefusesNullAndUnterminatedText)
{
    EXPECT_FALSE(PluginText(nullptr));
    const std::string longText(5000, 'x');
    EXPECT_FALSE(PluginText(longText.c_str()));
    EXPECT_EQ(PluginText(longText.c_str(), 5000), longText);
    EXPECT_EQ(PluginText(""), "");
}

} // namespace
} // namespace polyvant
