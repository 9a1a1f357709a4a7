#include <gtest/gtest.h>

#include "FormatTestSupport.h"

namespace polyvant::formats::test {
namespace {

constexpr char kClassName[] = "POV-Ray Binary (*.pob)";

// No public description of the layout exists, so the class refuses every file, but
// says why and names the file.
TEST(PobPluginTest, OffersTheExtensionTableClassAndRefusesEveryFileWithAReason)
{
    PluginLib lib("pob.so");
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    HostRecorder host;
    lib.SetHost(host);
    EXPECT_EQ(reinterpret_cast<PvLibNumberClassesFn>(lib.Symbol("LibNumberClasses"))(), 1u);
    ClassDescriptor* in = lib.FindClass(kClassName, kImportSuperClassId);
    ASSERT_NE(in, nullptr);
    ImporterPtr importer(static_cast<Importer*>(in->Create()));
    TempDir dir;
    const std::string path = dir.File("scene.pob");
    const struct {
        std::string bytes;
        const char* message;
    } cases[] = {
        {"", ": POV-Ray Binary files are not supported"},
        {std::string(4096, '\xAB'), ": POV-Ray Binary files are not supported"},
        {std::string("FORM\0\0\0\x04PORT", 12), ": not a POV-Ray Binary file: it is an IFF FORM"},
    };
    for (const auto& c : cases) {
        host.Clear();
        WriteBytes(path, c.bytes);
        EXPECT_EQ(importer->ImportFile(path.c_str()), nullptr);
        EXPECT_NE(host.AllText().find(path + c.message), std::string::npos) << host.AllText();
    }
    host.Clear();
    EXPECT_EQ(importer->ImportFile(dir.File("missing.pob").c_str()), nullptr);
    EXPECT_NE(host.AllText().find("missing.pob: cannot open"), std::string::npos);
    host.Clear();
    EXPECT_EQ(importer->ImportInteractive(), nullptr); // the user cancels the prompt
    EXPECT_TRUE(host.Texts(PV_ERROR).empty());
}

} // namespace
} // namespace polyvant::formats::test
