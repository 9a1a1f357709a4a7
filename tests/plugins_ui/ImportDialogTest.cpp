#include "plugins/ui/ImportDialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include "DialogTestSupport.h"

namespace polyvant::test {
namespace {

class ImportDialogTest : public ::testing::Test {
protected:
    void Click(QDialog& dialog, const char* button)
    {
        dialog.findChild<QPushButton*>(QLatin1String(button))->click();
    }
    // Presses Import with the file dialog answering path ("" = cancelled).
    void Press(ImportDialog& dialog, const std::string& path)
    {
        ui.answers.push_back(QString::fromStdString(path));
        Click(dialog, "importButton");
    }
    void ImportAndAccept(const std::string& path)
    {
        ImportDialog dialog(scene.host, &scene.services);
        Press(dialog, path);
        Click(dialog, "okButton");
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    // The import fixture's mesh count, through its options dialog.
    void SetMeshCount(ImportDialog& dialog, int count, bool accept = true)
    {
        ui.dialogs = [&](QDialog& options) {
            options.findChild<QSpinBox*>(QStringLiteral("count"))->setValue(count);
            return int(accept ? QDialog::Accepted : QDialog::Rejected);
        };
        Click(dialog, "optionsButton");
    }

    UiRecorder ui;
    PluginScene scene{{"fixture_import.so", "fixture_export.so"}};
    std::string file = scene.TempPath("ship.fxi", "x\n");
};

TEST_F(ImportDialogTest, ImportPressShowsTheTotalsOfTheResultAsTheOptionsSay)
{
    ImportDialog dialog(scene.host, &scene.services);
    SetMeshCount(dialog, 3);
    SetMeshCount(dialog, 5, false);
    Press(dialog, file);
    EXPECT_EQ(dialog.MeshText(), QStringLiteral(":3"));
    EXPECT_EQ(dialog.FaceText(), QStringLiteral(":12"));
    EXPECT_EQ(dialog.VertexText(), QStringLiteral(":12"));
    EXPECT_TRUE(ui.boxes.empty());
}

class ImportDialogClearFlag : public ImportDialogTest, public ::testing::WithParamInterface<int> {};

TEST_P(ImportDialogClearFlag, DecidesWhetherOkReplacesOrExtendsTheSceneAndLightsAlwaysGo)
{
    scene.clearFlag = GetParam();
    const int kept = scene.clearFlag ? 1 : 2;
    ImportAndAccept(scene.TempPath("first.fxi", "x\n"));
    scene.AddLight();
    ImportAndAccept(file);
    EXPECT_EQ(scene.sceneObjects->Count(), kept);
    EXPECT_EQ(scene.importers->Count(), kept);
    EXPECT_EQ(scene.lights->Count(), 0);
    EXPECT_EQ(scene.meshCount, kept);
    EXPECT_EQ(scene.faceCount, 4 * kept);
    EXPECT_EQ(scene.vertexCount, 4 * kept);
    EXPECT_EQ(scene.title, QStringLiteral("Polyvant V3.2 ship.fxi"));
}

INSTANTIATE_TEST_SUITE_P(OnAndOff, ImportDialogClearFlag, ::testing::Values(1, 0));

TEST_F(ImportDialogTest, CancelAfterAnImportLeavesEverythingAsItWas)
{
    ImportAndAccept(file);
    scene.AddLight();
    scene.title = QStringLiteral("before");
    ImportDialog dialog(scene.host, &scene.services);
    dialog.findChild<QComboBox*>(QStringLiteral("classCombo"))->setCurrentIndex(0);
    Press(dialog, file);
    ASSERT_TRUE(dialog.HoldsImporter());
    Click(dialog, "cancelButton");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.HoldsImporter());
    EXPECT_EQ(scene.sceneObjects->Count(), 1);
    EXPECT_EQ(scene.importers->Count(), 1);
    EXPECT_EQ(scene.lights->Count(), 1);
    EXPECT_EQ(scene.title, QStringLiteral("before"));
}

TEST_F(ImportDialogTest, CancelledFilePromptShowsNothingAndAddsNothing)
{
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, "");
    EXPECT_TRUE(ui.boxes.empty());
    dialog.accept();
    EXPECT_EQ(scene.importers->Count(), 0);
    EXPECT_TRUE(scene.title.isEmpty());
}

TEST_F(ImportDialogTest, FailedImportNamesFileAndReasonAndDropsTheEarlierResult)
{
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, file);
    ASSERT_EQ(dialog.MeshText(), QStringLiteral(":1"));
    const std::string missing = scene.TempPath("missing.fxi");
    Press(dialog, missing);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(ui.boxes[0].text.startsWith(
        QStringLiteral("The import of %1 failed:\n").arg(QString::fromStdString(missing))));
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("cannot open")));
    EXPECT_EQ(dialog.MeshText(), QStringLiteral(":0"));
    dialog.accept();
    EXPECT_EQ(scene.sceneObjects->Count(), 0);
    EXPECT_EQ(scene.importers->Count(), 0);
}

TEST(ImportDialogMessages, APlugInsReasonIsNotPrefixedWithTheFileTheHeadingNames)
{
    UiRecorder ui;
    PluginScene scene({"bin:obj.so"});
    const std::string broken = scene.TempPath("broken.obj", "v 1 2 x\n");
    ImportDialog dialog(scene.host, &scene.services);
    ui.answers.push_back(QString::fromStdString(broken));
    dialog.findChild<QPushButton*>(QStringLiteral("importButton"))->click();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text.count(QString::fromStdString(broken)), 1)
        << ui.boxes[0].text.toStdString();
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("failed:\nline 1: vertex")))
        << ui.boxes[0].text.toStdString();
}

TEST(ImportDialogMessages, AFileOfAnotherClassesExtensionNamesThatClass)
{
    UiRecorder ui;
    PluginScene scene({"bin:3ds.so", "bin:obj.so"});
    scene.Select("3D Studio (*.3ds, *.prj)");
    const std::string model = scene.TempPath("box.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    ImportDialog dialog(scene.host, &scene.services);
    ui.answers.push_back(QString::fromStdString(model));
    dialog.findChild<QPushButton*>(QStringLiteral("importButton"))->click();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_TRUE(ui.boxes[0].text.endsWith(QStringLiteral(
        "Files named *.obj are read by \"WaveFront (*.obj)\": choose it in the list to import "
        "this one.")))
        << ui.boxes[0].text.toStdString();
}

TEST_F(ImportDialogTest, ImportWithoutObjectsSaysNoMeshesWereFound)
{
    TestImportClass empty(TestImportClass::kEmpty, scene.services);
    scene.AddImportClass(&empty);
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, scene.TempPath("empty.tst"));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, QStringLiteral("No meshes found to import!"));
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Info"));
    EXPECT_EQ(empty.released, 1);
    dialog.accept();
    EXPECT_TRUE(scene.title.isEmpty());
}

TEST_F(ImportDialogTest, ObjectsFailingTheChecksAreSkippedAndReported)
{
    TestImportClass broken(TestImportClass::kOneBrokenMesh, scene.services);
    scene.AddImportClass(&broken);
    const std::string path = scene.TempPath("broken.tst");
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, path);
    EXPECT_EQ(dialog.MeshText(), QStringLiteral(":1"));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Warning"));
    EXPECT_TRUE(ui.boxes[0].text.contains(QString::fromStdString(path)));
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("1 object(s) skipped:\nbroken")));
    dialog.accept();
    EXPECT_EQ(scene.sceneObjects->Count(), 1);
}

TEST_F(ImportDialogTest, CancelInTheProgressWindowAddsNothing)
{
    ImportDialog dialog(scene.host, &scene.services);
    SetMeshCount(dialog, 16);
    bool clicked = false;
    QTimer poll; // clicks Cancel once the progress window is up
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QProgressDialog* progress = scene.services.ProgressWindow(); progress && !clicked) {
            clicked = true;
            progress->cancel();
        }
    });
    poll.start(0);
    Press(dialog, file);
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(dialog.HoldsImporter());
    EXPECT_EQ(scene.services.ProgressWindow(), nullptr);
}

} // namespace
} // namespace polyvant::test
