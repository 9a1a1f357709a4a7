#include <HeadlessHost.h>
#include <PluginLibrary.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>

#include <polyvant/Obj3d.h>

#include "TestSupport.h"

namespace polyvant {
namespace {

using test::FixturePath;
using test::TempDir;

// One fixture library with the headless host's table handed over.
class HostedFixture : public testing::Test {
protected:
    explicit HostedFixture(const char* fixture = "fixture_import.so")
        : library(FixturePath(fixture).c_str())
    {
    }
    void SetUp() override
    {
        ASSERT_EQ(library.GetStatus(), PluginLibrary::kLoaded) << library.Reason();
        ASSERT_EQ(library.libSetHostServices(host.Services()), 1);
        test::WriteFile(input, "any");
    }
    // Created anew per call, released by the caller through Release().
    template <typename T>
    T* Create()
    {
        return static_cast<T*>(library.libClassDescription(0)->Create());
    }
    std::vector<Mesh3d*> Meshes(ObjectList* list)
    {
        std::vector<Mesh3d*> meshes;
        for (int i = 0; list && i < list->Count(); ++i)
            meshes.push_back(static_cast<Mesh3d*>(list->Get(i)));
        return meshes;
    }

    TempDir dir;
    HeadlessHost host;
    std::string input = dir / "input.fxi";
    PluginLibrary library;
};

using HeadlessOptions = HostedFixture;

TEST_F(HeadlessOptions, ValuesGivenByNameReachThePlugin)
{
    for (const char* assignment : {"name=Cube", "scale=2.5", "count=3", "units=CM", "warn=yes"})
        ASSERT_TRUE(host.SetOption(assignment));
    auto* importer = Create<Importer>();
    importer->Options();
    const auto meshes = Meshes(importer->ImportFile(input.c_str()));
    ASSERT_EQ(meshes.size(), 3u);
    EXPECT_STREQ(meshes[2]->name, "Cube");
    EXPECT_EQ(meshes[2]->max[0], 2.5);
    EXPECT_EQ(host.Count(PV_WARNING), 1);
    EXPECT_TRUE(host.UnusedOptions().empty());
    importer->Release();
}

TEST_F(HeadlessOptions, ABadValueChangesNoOptionAndIsReported)
{
    ASSERT_TRUE(host.SetOption("count=2"));
    ASSERT_TRUE(host.SetOption("scale=5000")); // above the 1000 maximum
    auto* importer = Create<Importer>();
    importer->Options();
    const auto meshes = Meshes(importer->ImportFile(input.c_str()));
    ASSERT_EQ(meshes.size(), 1u); // the count stayed at its default
    EXPECT_EQ(meshes[0]->max[0], 1.0);
    ASSERT_EQ(host.Count(PV_ERROR), 1);
    EXPECT_NE(host.Messages()[0].text.find("scale=5000"), std::string::npos);
    importer->Release();
}

TEST_F(HeadlessOptions, NamesNoPluginOfferedAreListedAsUnused)
{
    ASSERT_TRUE(host.SetOption("colour=red"));
    ASSERT_TRUE(host.SetOption("count=1"));
    auto* importer = Create<Importer>();
    importer->Options();
    importer->Release();
    EXPECT_EQ(host.UnusedOptions(), std::vector<std::string>{"colour"});
}

TEST(HeadlessHostTest, RefusesAssignmentsWithoutNameOrEquals)
{
    HeadlessHost host;
    std::string error;
    EXPECT_FALSE(host.SetOption("scale", &error));
    EXPECT_NE(error.find("NAME=VALUE"), std::string::npos);
    EXPECT_FALSE(host.SetOption("=2"));
    EXPECT_TRUE(host.SetOption("text="));
}

struct ValueCase {
    std::int32_t type;
    const char* value;
    bool accepted;
};

class HeadlessOptionValue : public testing::TestWithParam<ValueCase> {};

TEST_P(HeadlessOptionValue, IsCheckedAgainstTheOptionsTypeAndRange)
{
    const ValueCase& c = GetParam();
    PvOption option{"v", "Value", c.type, 0, 7, 0.5, -10, 10, "mm|cm|m", nullptr};
    option.stringValue = static_cast<char*>(std::malloc(4));
    std::strcpy(option.stringValue, "old");
    HeadlessHost host;
    ASSERT_TRUE(host.SetOption(std::string("v=") + c.value));
    const bool accepted = host.EditOptions("Options", &option, 1);
    EXPECT_EQ(accepted, c.accepted) << c.value;
    if (!accepted) {
        EXPECT_EQ(option.intValue, 7);
        EXPECT_EQ(option.doubleValue, 0.5);
        EXPECT_STREQ(option.stringValue, "old");
        EXPECT_EQ(host.Count(PV_ERROR), 1);
    }
    std::free(option.stringValue);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HeadlessOptionValue,
    testing::Values(ValueCase{PV_OPTION_BOOL, "maybe", false},
                    ValueCase{PV_OPTION_BOOL, "Off", true}, ValueCase{PV_OPTION_INT, "1.5", false},
                    ValueCase{PV_OPTION_INT, "11", false}, ValueCase{PV_OPTION_INT, "-10", true},
                    ValueCase{PV_OPTION_INT, "", false}, ValueCase{PV_OPTION_DOUBLE, "nan", false},
                    ValueCase{PV_OPTION_DOUBLE, "1e400", false},
                    ValueCase{PV_OPTION_DOUBLE, "-9.75", true},
                    ValueCase{PV_OPTION_CHOICE, "km", false},
                    ValueCase{PV_OPTION_CHOICE, "3", false}, ValueCase{PV_OPTION_CHOICE, "2", true},
                    ValueCase{PV_OPTION_CHOICE, "Cm", true},
                    ValueCase{PV_OPTION_STRING, "new text", true}, ValueCase{99, "1", false}));

TEST(HeadlessHostTest, AppliesEachKindOfValueToItsField)
{
    PvOption options[] = {
        {"b", "", PV_OPTION_BOOL, 0, 0, 0, 0, 0, nullptr, nullptr},
        {"c", "", PV_OPTION_CHOICE, 0, 0, 0, 0, 0, "x|y|z", nullptr},
        {"d", "", PV_OPTION_DOUBLE, 0, 0, 0, 0, 0, nullptr, nullptr},
        {"s", "", PV_OPTION_STRING, 0, 0, 0, 0, 0, nullptr, nullptr},
    };
    HeadlessHost host;
    for (const char* assignment : {"b=true", "c=z", "d=-1e10", "s=abc"})
        host.SetOption(assignment);
    ASSERT_TRUE(host.EditOptions("Options", options, 4));
    EXPECT_EQ(options[0].intValue, 1);
    EXPECT_EQ(options[1].intValue, 2);
    EXPECT_EQ(options[2].doubleValue, -1e10); // no range when min == max
    EXPECT_STREQ(options[3].stringValue, "abc");
    std::free(options[3].stringValue);
}

using HeadlessPrompts = HostedFixture;

TEST_F(HeadlessPrompts, OpenPromptsTakeTheQueuedPathsInOrderThenCancel)
{
    test::WriteFile(dir / "second.fxi", "any");
    host.QueueOpenPath(input);
    host.QueueOpenPath(dir / "second.fxi");
    auto* importer = Create<Importer>();
    EXPECT_NE(importer->ImportInteractive(), nullptr);
    EXPECT_STREQ(importer->GetFileName(), input.c_str());
    EXPECT_NE(importer->ImportInteractive(), nullptr);
    EXPECT_STREQ(importer->GetFileName(), (dir / "second.fxi").c_str());
    EXPECT_EQ(importer->ImportInteractive(), nullptr);
    EXPECT_EQ(host.Count(PV_ERROR), 0);
    importer->Release();
}

TEST_F(HeadlessPrompts, ExportWritesToTheQueuedSavePath)
{
    PluginLibrary exportLibrary(FixturePath("fixture_export.so").c_str());
    ASSERT_EQ(exportLibrary.libSetHostServices(host.Services()), 1);
    auto* importer = Create<Importer>();
    ObjectList* list = importer->ImportFile(input.c_str());
    auto* exporter = static_cast<Exporter*>(exportLibrary.libClassDescription(0)->Create());
    EXPECT_EQ(exporter->Export(list), 0); // nothing queued: cancelled, nothing written
    host.QueueSavePath(dir / "out.fxe");
    EXPECT_EQ(exporter->Export(list), 1);
    exporter->Release();
    importer->Release();
    EXPECT_EQ(test::ReadFile(dir / "out.fxe"), "meshes 1 faces 4 vertices 4\n");
}

using HeadlessProgress = HostedFixture;

TEST_F(HeadlessProgress, ACallbackThatAnswersFalseCancelsTheImport)
{
    std::vector<double> fractions;
    host.SetProgressCallback([&](double fraction, const std::string&) {
        fractions.push_back(fraction);
        return fractions.size() < 2;
    });
    host.SetOption("count=4");
    auto* importer = Create<Importer>();
    importer->Options();
    EXPECT_EQ(importer->ImportFile(input.c_str()), nullptr);
    importer->Release();
    EXPECT_EQ(fractions, (std::vector<double>{0.0, 0.25}));
    EXPECT_EQ(host.Count(PV_ERROR), 1);
}

TEST_F(HeadlessProgress, CancelBeforehandStopsAtTheFirstReport)
{
    host.Cancel();
    auto* importer = Create<Importer>();
    EXPECT_EQ(importer->ImportFile(input.c_str()), nullptr);
    importer->Release();
}

TEST_F(HeadlessProgress, HelpTextsAreCollected)
{
    auto* importer = Create<Importer>();
    importer->Help();
    importer->Release();
    ASSERT_EQ(host.HelpTexts().size(), 1u);
    EXPECT_EQ(host.HelpTexts()[0].title, "Fixture Import");
}

// A plug-in handed an older, shorter table reads only what `size` covers and falls
// back for the rest. The table sits in a block of exactly that size, so a read past
// it is a heap overflow that the sanitizer build reports.
TEST_F(HeadlessPrompts, APluginReadsNoFurtherThanTheTablesSize)
{
    const std::size_t size = offsetof(PvHostServices, report);
    auto* shortTable = static_cast<PvHostServices*>(std::malloc(size));
    std::memcpy(static_cast<void*>(shortTable), host.Services(), size);
    shortTable->size = static_cast<std::uint32_t>(size);
    ASSERT_EQ(library.libSetHostServices(shortTable), 1);
    host.QueueOpenPath(dir / "absent.fxi");

    auto* importer = Create<Importer>();
    testing::internal::CaptureStderr();
    EXPECT_EQ(importer->ImportInteractive(), nullptr); // prompt served, report not
    importer->Options();
    importer->Help();
    const std::string printed = testing::internal::GetCapturedStderr();
    importer->Release();
    std::free(shortTable);

    EXPECT_NE(printed.find("cannot open"), std::string::npos) << printed;
    EXPECT_NE(printed.find("no services to edit options"), std::string::npos) << printed;
    EXPECT_TRUE(host.Messages().empty());
    EXPECT_TRUE(host.HelpTexts().empty());
}

TEST_F(HeadlessPrompts, APluginRefusesATableTooShortForItsHeader)
{
    PvHostServices table = *host.Services();
    table.size = 8;
    EXPECT_EQ(library.libSetHostServices(&table), 0);
    EXPECT_EQ(library.libSetHostServices(nullptr), 0);
}

// A backend that throws: nothing may cross the boundary.
class ThrowingBackend : public HostServicesBackend {
public:
    char* AskOpenFile(const char*, const char*) override { throw std::runtime_error("x"); }
    char* AskSaveFile(const char*, const char*, const char*) override { throw 1; }
    void Report(PvSeverity severity, const char* message) override
    {
        last = severity;
        text = message;
        if (text == "throw")
            throw std::runtime_error("x");
    }
    bool Progress(double fraction, const char*) override
    {
        seen = fraction;
        throw std::runtime_error("x");
    }
    void ShowHelp(const char*, const char*) override { throw std::bad_alloc(); }
    bool EditOptions(const char*, PvOption*, std::uint32_t) override { throw 2; }

    PvSeverity last = PV_INFO;
    std::string text;
    double seen = -1;
};

TEST(HostServicesTableTest, StopsExceptionsAndCleansArgumentsAtTheBoundary)
{
    ThrowingBackend backend;
    const PvHostServices table = MakeHostServices(backend);
    EXPECT_EQ(table.version, kHostServicesVersion);
    EXPECT_EQ(table.size, sizeof(PvHostServices));
    EXPECT_EQ(table.askOpenFile(table.context, "t", nullptr), nullptr);
    EXPECT_EQ(table.askSaveFile(table.context, nullptr, nullptr, nullptr), nullptr);
    table.report(table.context, 77, nullptr);
    EXPECT_EQ(backend.last, PV_ERROR);
    EXPECT_EQ(backend.text, "");
    table.report(table.context, PV_WARNING, "throw");
    EXPECT_EQ(table.progress(table.context, std::nan(""), nullptr), 1);
    EXPECT_EQ(backend.seen, 0.0);
    table.progress(table.context, 7.0, "");
    EXPECT_EQ(backend.seen, 1.0);
    table.showHelp(table.context, "t", "x");
    PvOption option{};
    EXPECT_EQ(table.editOptions(table.context, "t", &option, 1), 0);
    EXPECT_EQ(table.editOptions(table.context, "t", nullptr, 3), 0);
}

} // namespace
} // namespace polyvant
