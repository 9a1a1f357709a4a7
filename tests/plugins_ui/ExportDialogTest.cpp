#include "plugins/ui/ExportDialog.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include <QComboBox>
#include <QPushButton>

#include "DialogTestSupport.h"
#include "plugins/ui/ImportDialog.h"

namespace polyvant::test {
namespace {

std::string Read(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ExportDialogTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }

    void Import(PluginScene& scene, const std::string& path)
    {
        ImportDialog dialog(scene.host, &scene.services);
        ui.answers.push_back(QString::fromStdString(path));
        dialog.OnImport();
        dialog.accept();
    }
    void PressExport(ExportDialog& dialog, const std::string& path)
    {
        ui.answers.push_back(QString::fromStdString(path));
        dialog.findChild<QPushButton*>(QStringLiteral("exportButton"))->click();
    }
    static int Select(PluginScene& scene, const std::vector<int>& table, const char* name)
    {
        for (std::size_t i = 0; i < table.size(); ++i)
            if (scene.plugins->GetClass(table[i])->ClassName() == std::string(name))
                return int(i);
        ADD_FAILURE() << "no class " << name;
        return 0;
    }

    UiRecorder ui;
};

TEST_F(ExportDialogTest, EachPressWritesTheSceneWithAFreshExporter)
{
    PluginScene scene({"fixture_import.so", "fixture_export.so"});
    const std::string model = scene.TempPath("m.fxi");
    std::ofstream(model) << "x\n";
    Import(scene, model);
    Import(scene, model);
    scene.clearFlag = 0;
    Import(scene, model);
    ExportDialog dialog(scene.host, &scene.services);
    PressExport(dialog, scene.TempPath("a.fxe"));
    PressExport(dialog, scene.TempPath("b")); // the default extension is added
    EXPECT_EQ(Read(scene.TempPath("a.fxe")), "meshes 2 faces 8 vertices 8\n");
    EXPECT_EQ(Read(scene.TempPath("b.fxe")), "meshes 2 faces 8 vertices 8\n");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(scene.SceneCount(), 2); // exporting leaves the scene alone
}

TEST_F(ExportDialogTest, FailedWriteNamesTheFileAndThePluginsReason)
{
    PluginScene scene({"fixture_import.so", "fixture_export.so"});
    ExportDialog dialog(scene.host, &scene.services);
    const std::string target = scene.TempPath("no/such/dir/out.fxe");
    PressExport(dialog, target);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(ui.boxes[0].text.contains(QString::fromStdString(target)));
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("cannot write")));
}

TEST_F(ExportDialogTest, CancelledSavePromptShowsNothing)
{
    PluginScene scene({"fixture_import.so", "fixture_export.so"});
    ExportDialog dialog(scene.host, &scene.services);
    PressExport(dialog, "");
    EXPECT_EQ(ui.requests.size(), 1u);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ExportDialogTest, WithoutImportClassesExportDoesNothingAndTheSelectionIsKept)
{
    PluginScene scene({"fixture_export.so"});
    ExportDialog dialog(scene.host, &scene.services);
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("classCombo"));
    EXPECT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("Fixture Export (*.fxe)"));
    PressExport(dialog, scene.TempPath("x.fxe"));
    EXPECT_TRUE(ui.requests.empty());
    dialog.findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ExportDialogTest, ChangedSelectionIsRecordedForTheNextOpening)
{
    PluginScene scene({"bin:obj.so", "bin:stl.so"});
    ASSERT_GE(scene.exportClasses.size(), 2u);
    {
        ExportDialog dialog(scene.host, &scene.services);
        dialog.findChild<QComboBox*>(QStringLiteral("classCombo"))->setCurrentIndex(1);
        dialog.reject();
    }
    EXPECT_EQ(scene.currentExport, 1);
    ExportDialog again(scene.host, &scene.services);
    EXPECT_EQ(again.findChild<QComboBox*>(QStringLiteral("classCombo"))->currentIndex(), 1);
}

TEST_F(ExportDialogTest, ObjExportOfAnImportedModelReadsBackTheSameTotals)
{
    PluginScene scene({"bin:obj.so"});
    scene.currentImport = Select(scene, scene.importClasses, "WaveFront (*.obj)");
    scene.currentExport = Select(scene, scene.exportClasses, "WaveFront (*.obj)");
    Import(scene, std::string(POLYVANT_TESTDATA_DIR) + "/obj/cornell_box.obj");
    ASSERT_GT(scene.meshCount, 0);
    const int meshes = scene.meshCount, faces = scene.faceCount, vertices = scene.vertexCount;
    ExportDialog dialog(scene.host, &scene.services);
    const std::string written = scene.TempPath("copy.obj");
    PressExport(dialog, written);
    EXPECT_TRUE(ui.boxes.empty());
    Import(scene, written); // clear_flag is on: the copy replaces the scene
    EXPECT_EQ(scene.meshCount, meshes);
    EXPECT_EQ(scene.faceCount, faces);
    EXPECT_EQ(scene.vertexCount, vertices);
    EXPECT_EQ(scene.title, QStringLiteral("Polyvant V3.2 copy.obj"));
}

} // namespace
} // namespace polyvant::test
