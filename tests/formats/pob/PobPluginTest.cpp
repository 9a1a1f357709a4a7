#include <fstream>

#include "../3ds/PluginHarness.h"

namespace polyvant::formats::test {
namespace {

constexpr char kClassName[] = "POV-Ray Binary (*.pob)";

class PobPluginTest : public testing::Test {
protected:
    // Imports a file with these bytes; returns what came back (expected: nothing).
    ObjectList* Import(const std::string& bytes)
    {
        const std::string path = dir.File("scene.pob");
        std::ofstream(path, std::ios::binary) << bytes;
        importer = static_cast<Importer*>(plugin.Find(kClassName, kImportSuperClassId)->Create());
        return importer->ImportFile(path.c_str());
    }
    void TearDown() override
    {
        if (importer)
            importer->Release();
    }

    PluginHarness plugin{"format_pob.so"};
    TempDir dir;
    Importer* importer = nullptr;
};

TEST_F(PobPluginTest, OffersExactlyTheExtensionTableImportClass)
{
    EXPECT_EQ(plugin.Entry<PvLibVersionFn>("LibVersion")(), 3u);
    EXPECT_EQ(plugin.Entry<PvLibNumberClassesFn>("LibNumberClasses")(), 1u);
    EXPECT_NE(plugin.Find(kClassName, kImportSuperClassId), nullptr);
}

TEST_F(PobPluginTest, RefusesEveryFileSayingTheFormatIsNotSupported)
{
    for (const std::string& bytes :
         {std::string(), std::string("\x01\x02\x03\x04 chunk", 10), std::string(4096, '\xAB')}) {
        plugin.messages.clear();
        EXPECT_EQ(Import(bytes), nullptr);
        importer->Release();
        importer = nullptr;
        EXPECT_NE(plugin.Messages(PV_ERROR).find("scene.pob: POV-Ray Binary files are not "
                                                 "supported"),
                  std::string::npos)
            << plugin.Messages(PV_ERROR);
    }
}

TEST_F(PobPluginTest, NamesAnIffFileOfAnotherProgramForWhatItIs)
{
    EXPECT_EQ(Import(std::string("FORM\0\0\0\x04PORT", 12)), nullptr);
    EXPECT_NE(plugin.Messages(PV_ERROR).find("IFF FORM file of another program"),
              std::string::npos);
}

TEST_F(PobPluginTest, SaysWhenTheFileCannotBeOpenedAndKeepsQuietOnCancel)
{
    importer = static_cast<Importer*>(plugin.Find(kClassName, kImportSuperClassId)->Create());
    EXPECT_EQ(importer->ImportFile(dir.File("missing.pob").c_str()), nullptr);
    EXPECT_NE(plugin.Messages(PV_ERROR).find("missing.pob: cannot open"), std::string::npos)
        << plugin.Messages(PV_ERROR);
    plugin.messages.clear();
    plugin.openPath.clear(); // the user cancels the file prompt
    EXPECT_EQ(importer->ImportInteractive(), nullptr);
    EXPECT_EQ(plugin.Messages(PV_ERROR), "");
}

} // namespace
} // namespace polyvant::formats::test
