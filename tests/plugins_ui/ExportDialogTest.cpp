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
    void Import(PluginScene& scene, const std::string& path)
    {
        ImportDialog dialog(scene.host, &scene.services);
        ui.answers.push_back(QString::fromStdString(path));
        dialog.OnImport();
        dialog.accept();
    }
    void Export(ExportDialog& dialog, const std::string& path)
    {
        ui.answers.push_back(QString::fromStdString(path));
        dialog.findChild<QPushButton*>(QStringLiteral("exportButton"))->click();
    }
    UiRecorder ui;
};

TEST_F(ExportDialogTest, EachPressWritesTheWholeSceneAndLeavesItAlone)
{
    PluginScene scene({"fixture_import.so", "fixture_export.so"});
    scene.clearFlag = 0;
    const std::string model = scene.TempPath("m.fxi", "x\n");
    Import(scene, model);
    Import(scene, model);
    ExportDialog dialog(scene.host, &scene.services);
    Export(dialog, scene.TempPath("a.fxe"));
    Export(dialog, scene.TempPath("b")); // the default extension is added
    Export(dialog, "");                  // cancelled: no message
    EXPECT_EQ(Read(scene.TempPath("a.fxe")), "meshes 2 faces 8 vertices 8\n");
    EXPECT_EQ(Read(scene.TempPath("b.fxe")), "meshes 2 faces 8 vertices 8\n");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(scene.sceneObjects->Count(), 2);
}

TEST_F(ExportDialogTest, FailedWriteNamesTheFileAndThePluginsReason)
{
    PluginScene scene({"fixture_import.so", "fixture_export.so"});
    ExportDialog dialog(scene.host, &scene.services);
    const std::string target = scene.TempPath("no/such/dir/out.fxe");
    Export(dialog, target);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(ui.boxes[0].text.contains(QString::fromStdString(target)));
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("cannot write")));
}

TEST_F(ExportDialogTest, ChangedSelectionIsPreselectedNextTime)
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
    scene.Select("WaveFront (*.obj)");
    Import(scene, std::string(POLYVANT_TESTDATA_DIR) + "/obj/cornell_box.obj");
    ASSERT_GT(scene.meshCount, 0);
    const int meshes = scene.meshCount, faces = scene.faceCount, vertices = scene.vertexCount;
    QStringList status;
    scene.services.SetStatusSink([&](const QString& text) { status << text; });
    ExportDialog dialog(scene.host, &scene.services);
    const std::string written = scene.TempPath("copy.obj");
    Export(dialog, written);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(status.value(status.size() - 1),
              QStringLiteral("Exported to %1").arg(QString::fromStdString(written)));
    scene.services.SetStatusSink(nullptr);
    Import(scene, written); // clear_flag is on: the copy replaces the scene
    EXPECT_EQ(scene.meshCount, meshes);
    EXPECT_EQ(scene.faceCount, faces);
    EXPECT_EQ(scene.vertexCount, vertices);
    EXPECT_EQ(scene.title, QStringLiteral("Polyvant V3.2 copy.obj"));
}

} // namespace
} // namespace polyvant::test
