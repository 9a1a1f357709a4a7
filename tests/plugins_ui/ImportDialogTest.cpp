#include "plugins/ui/ImportDialog.h"

#include <fstream>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include "DialogTestSupport.h"

namespace polyvant::test {
namespace {

const std::vector<std::string> kFixtures = {"fixture_import.so", "fixture_export.so"};

void Touch(const std::string& path, const std::string& text = "x\n")
{
    std::ofstream(path) << text;
}

class ImportDialogTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }

    // Presses Import with the file dialog answering path ("" = cancelled).
    void Press(ImportDialog& dialog, const std::string& path)
    {
        ui.answers.push_back(QString::fromStdString(path));
        dialog.findChild<QPushButton*>(QStringLiteral("importButton"))->click();
    }
    // One whole dialog: Import of path, then OK.
    void ImportAndAccept(PluginScene& scene, const std::string& path)
    {
        ImportDialog dialog(scene.host, &scene.services);
        Press(dialog, path);
        dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    // Sets the import fixture's mesh count through its options dialog.
    void SetFixtureMeshCount(ImportDialog& dialog, int count, bool accept = true)
    {
        DialogAnswer answer([&](QDialog& options) {
            options.findChild<QSpinBox*>(QStringLiteral("count"))->setValue(count);
            return int(accept ? QDialog::Accepted : QDialog::Rejected);
        });
        dialog.findChild<QPushButton*>(QStringLiteral("optionsButton"))->click();
    }

    UiRecorder ui;
};

TEST_F(ImportDialogTest, ListsTheImportClassesAndRecordsTheSelectionAtOnce)
{
    PluginScene scene({"fixture_import.so", "fixture_import_fails.so", "fixture_export.so"});
    ASSERT_EQ(scene.importClasses.size(), 2u);
    scene.currentImport = 1;
    ImportDialog dialog(scene.host, &scene.services);
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("classCombo"));
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_EQ(dialog.MeshText(), QStringLiteral(":0"));
    combo->setCurrentIndex(0);
    dialog.reject();
    EXPECT_EQ(scene.currentImport, 0); // kept although the dialog was cancelled
}

TEST_F(ImportDialogTest, WithoutExportClassesImportDoesNothingAndTheListShowsNone)
{
    PluginScene scene({"fixture_import.so"});
    ImportDialog dialog(scene.host, &scene.services);
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("classCombo"));
    EXPECT_EQ(combo->count(), 1); // "(none)" went, but the buttons stay dead
    const std::string file = scene.TempPath("a.fxi");
    Touch(file);
    Press(dialog, file);
    EXPECT_TRUE(ui.requests.empty());
    dialog.accept();
    EXPECT_EQ(scene.SceneCount(), 0);
    EXPECT_EQ(scene.ImporterCount(), 0);
}

TEST_F(ImportDialogTest, ImportPressShowsTheTotalsOfTheResult)
{
    PluginScene scene(kFixtures);
    ImportDialog dialog(scene.host, &scene.services);
    SetFixtureMeshCount(dialog, 3);
    const std::string file = scene.TempPath("three.fxi");
    Touch(file);
    Press(dialog, file);
    EXPECT_EQ(dialog.MeshText(), QStringLiteral(":3"));
    EXPECT_EQ(dialog.FaceText(), QStringLiteral(":12"));
    EXPECT_EQ(dialog.VertexText(), QStringLiteral(":12"));
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(ui.requests.at(0).filter, QStringLiteral("Fixture (*.fx *.FX);;All files (*)"));
}

TEST_F(ImportDialogTest, CancelledOptionsKeepTheImportersSettings)
{
    PluginScene scene(kFixtures);
    ImportDialog dialog(scene.host, &scene.services);
    SetFixtureMeshCount(dialog, 2);
    SetFixtureMeshCount(dialog, 5, false);
    const std::string file = scene.TempPath("two.fxi");
    Touch(file);
    Press(dialog, file);
    EXPECT_EQ(dialog.MeshText(), QStringLiteral(":2"));
}

TEST_F(ImportDialogTest, OkWithClearFlagReplacesTheSceneAndReleasesOlderImporters)
{
    PluginScene scene(kFixtures);
    scene.clearFlag = 1;
    const std::string first = scene.TempPath("first.fxi"), second = scene.TempPath("ship.fxi");
    Touch(first);
    Touch(second);
    ImportAndAccept(scene, first);
    scene.AddLight();
    ImportAndAccept(scene, second);
    EXPECT_EQ(scene.SceneCount(), 1);
    EXPECT_EQ(scene.ImporterCount(), 1);
    EXPECT_EQ(scene.LightCount(), 0);
    EXPECT_EQ(scene.meshCount, 1);
    EXPECT_EQ(scene.faceCount, 4);
    EXPECT_EQ(scene.vertexCount, 4);
    EXPECT_EQ(scene.title, QStringLiteral("Polyvant V3.2 ship.fxi"));
}

TEST_F(ImportDialogTest, OkWithoutClearFlagAddsToTheSceneAndKeepsEveryImporter)
{
    PluginScene scene(kFixtures);
    scene.clearFlag = 0;
    const std::string file = scene.TempPath("one.fxi");
    Touch(file);
    ImportAndAccept(scene, file);
    scene.AddLight();
    ImportAndAccept(scene, file);
    EXPECT_EQ(scene.SceneCount(), 2);
    EXPECT_EQ(scene.ImporterCount(), 2);
    EXPECT_EQ(scene.LightCount(), 0);
    EXPECT_EQ(scene.meshCount, 2);
    EXPECT_EQ(scene.faceCount, 8);
}

TEST_F(ImportDialogTest, CancelAfterAnImportLeavesEverythingAsItWas)
{
    PluginScene scene(kFixtures);
    const std::string file = scene.TempPath("kept.fxi");
    Touch(file);
    ImportAndAccept(scene, file);
    scene.AddLight();
    const QString title = scene.title;
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, file);
    ASSERT_TRUE(dialog.HoldsImporter());
    dialog.findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.HoldsImporter());
    EXPECT_EQ(scene.SceneCount(), 1);
    EXPECT_EQ(scene.ImporterCount(), 1);
    EXPECT_EQ(scene.LightCount(), 1);
    EXPECT_EQ(scene.meshCount, 1);
    EXPECT_EQ(scene.title, title);
}

TEST_F(ImportDialogTest, OkWithoutAnImportChangesNothing)
{
    PluginScene scene(kFixtures);
    scene.AddLight();
    ImportDialog dialog(scene.host, &scene.services);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(scene.LightCount(), 1);
    EXPECT_EQ(scene.ImporterCount(), 0);
    EXPECT_TRUE(scene.title.isEmpty());
}

TEST_F(ImportDialogTest, CancelledFilePromptShowsNothingAndHoldsNothing)
{
    PluginScene scene(kFixtures);
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, "");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(dialog.HoldsImporter());
    dialog.accept();
    EXPECT_EQ(scene.ImporterCount(), 0);
}

TEST_F(ImportDialogTest, FailedImportNamesTheFileAndThePluginsReasonAndKeepsTheScene)
{
    PluginScene scene(kFixtures);
    const std::string good = scene.TempPath("good.fxi");
    Touch(good);
    ImportAndAccept(scene, good);
    ImportDialog dialog(scene.host, &scene.services);
    const std::string missing = scene.TempPath("missing.fxi");
    Press(dialog, missing);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(ui.boxes[0].text.contains(QString::fromStdString(missing)));
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("cannot open")));
    EXPECT_EQ(dialog.MeshText(), QStringLiteral(":0"));
    dialog.accept();
    EXPECT_EQ(scene.SceneCount(), 1);
    EXPECT_EQ(scene.ImporterCount(), 1);
    EXPECT_EQ(scene.title, QStringLiteral("Polyvant V3.2 good.fxi"));
}

TEST_F(ImportDialogTest, FailedSecondPressReleasesTheFirstResultAndClearsTheTotals)
{
    PluginScene scene(kFixtures);
    const std::string file = scene.TempPath("first.fxi");
    Touch(file);
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, file);
    ASSERT_EQ(dialog.MeshText(), QStringLiteral(":1"));
    Press(dialog, scene.TempPath("absent.fxi"));
    EXPECT_FALSE(dialog.HoldsImporter());
    EXPECT_EQ(dialog.MeshText(), QStringLiteral(":0"));
    dialog.accept();
    EXPECT_EQ(scene.SceneCount(), 0);
}

TEST_F(ImportDialogTest, ImportWithoutObjectsSaysNoMeshesWereFound)
{
    PluginScene scene({"bin:obj.so"});
    TestImportClass empty(TestImportClass::kEmpty, scene.services);
    scene.AddImportClass(&empty);
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, scene.TempPath("empty.tst"));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, QStringLiteral("No meshes found to import!"));
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Info"));
    EXPECT_EQ(empty.released, 1);
    dialog.accept();
    EXPECT_EQ(scene.SceneCount(), 0);
    EXPECT_EQ(scene.ImporterCount(), 0);
}

TEST_F(ImportDialogTest, ObjectsFailingTheChecksAreSkippedAndReported)
{
    PluginScene scene({"bin:obj.so"});
    TestImportClass broken(TestImportClass::kOneBrokenMesh, scene.services);
    scene.AddImportClass(&broken);
    const std::string file = scene.TempPath("broken.tst");
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, file);
    EXPECT_EQ(dialog.MeshText(), QStringLiteral(":1"));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Warning"));
    EXPECT_TRUE(ui.boxes[0].text.contains(QString::fromStdString(file)));
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("1 object(s) skipped")));
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("broken")));
    dialog.accept();
    EXPECT_EQ(scene.SceneCount(), 1);
    EXPECT_EQ(scene.meshCount, 1);
    EXPECT_EQ(scene.title, QStringLiteral("Polyvant V3.2 broken.tst"));
}

TEST_F(ImportDialogTest, ImportThatCannotStartSaysSo)
{
    PluginScene scene({"bin:obj.so"});
    TestImportClass none(TestImportClass::kNoObject, scene.services);
    scene.AddImportClass(&none);
    ImportDialog dialog(scene.host, &scene.services);
    Press(dialog, scene.TempPath("x.tst"));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("Test (*.tst)")));
    EXPECT_FALSE(dialog.HoldsImporter());
}

TEST_F(ImportDialogTest, CancelInTheProgressWindowAddsNothing)
{
    PluginScene scene(kFixtures);
    ImportDialog dialog(scene.host, &scene.services);
    SetFixtureMeshCount(dialog, 16);
    const std::string file = scene.TempPath("long.fxi");
    Touch(file);
    bool clicked = false;
    // Clicks Cancel as soon as the progress window is up.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QProgressDialog* progress = scene.services.ProgressWindow(); progress && !clicked) {
            clicked = true;
            progress->cancel();
        }
    });
    poll.start(0);
    Press(dialog, file);
    poll.stop();
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(dialog.HoldsImporter());
    EXPECT_EQ(scene.services.ProgressWindow(), nullptr);
    dialog.accept();
    EXPECT_EQ(scene.SceneCount(), 0);
}

TEST_F(ImportDialogTest, HelpShowsTheImportersHelpText)
{
    PluginScene scene(kFixtures);
    ImportDialog dialog(scene.host, &scene.services);
    QString title;
    DialogAnswer answer([&](QDialog& help) {
        title = help.windowTitle();
        return int(QDialog::Accepted);
    });
    dialog.findChild<QPushButton*>(QStringLiteral("helpButton"))->click();
    EXPECT_EQ(title, QStringLiteral("Fixture Import"));
}

} // namespace
} // namespace polyvant::test
