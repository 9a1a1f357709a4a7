#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QPushButton>

#include <polyvant/ObjectList.h>

#include "AppTestSupport.h"
#include "app/CMainFrame.h"
#include "app/CMyPolyvantApp.h"
#include "app/Settings.h"
#include "plugins/ui/GuiHostBackend.h"

using namespace polyvant;

namespace {

// The view's commands as the program wires them, with the shipped plug-ins.
class ViewCommandsTest : public apptest::ShellTest {
protected:
    void SetUp() override
    {
        // Nothing here draws: without an X display the offscreen platform loads no
        // OpenGL driver, whose caches LSan would report at exit.
        qunsetenv("DISPLAY");
        ShellTest::SetUp();
        WriteSettings({{"Settings/plugin_path", QStringLiteral(POLYVANT_PLUGIN_DIR "/")}});
        CMyPolyvantApp::StartOptions options;
        options.arguments = {QStringLiteral("/usr/bin/polyvant")};
        options.singleInstance = false;
        options.showWindow = false;
        app = std::make_unique<CMyPolyvantApp>(options);
        ASSERT_TRUE(app->InitInstance());
        messages.clear();
    }
    void TearDown() override
    {
        SetDialogRunner(nullptr);
        SetFileDialogFunction(nullptr);
        app->ExitInstance();
        app.reset();
        ShellTest::TearDown();
    }
    void Trigger(int id) { app->MainFrame()->Action(id)->trigger(); }

    std::unique_ptr<CMyPolyvantApp> app;
};

TEST_F(ViewCommandsTest, CommandsThatNeedAModelRefuseAnEmptyScene)
{
    Trigger(command::kExport);
    Trigger(command::kLightSetup);
    Trigger(command::kStatistic);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_TRUE(Shown("No meshes to export", "Export"));
    EXPECT_TRUE(Shown("No scene to display", "Light Setup"));
    EXPECT_TRUE(Shown("No meshes to explore", "Statistics"));
}

TEST_F(ViewCommandsTest, ExportWritesTheSceneThroughTheChosenClass)
{
    ASSERT_TRUE(app->OpenModelFile(POLYVANT_TESTDATA_DIR "/obj/box.obj"));
    const int faces = app->faceCount;
    ASSERT_GT(faces, 0);
    const QString target = Root() + QStringLiteral("/box.stl");
    SetFileDialogFunction([&](const FileDialogRequest& request) {
        EXPECT_EQ(request.mode, FileDialogRequest::kSaveFile);
        return target;
    });
    int runs = 0;
    SetDialogRunner([&](QDialog& dialog) {
        ++runs;
        auto* classes = dialog.findChild<QComboBox*>(QStringLiteral("classCombo"));
        auto* exportButton = dialog.findChild<QPushButton*>(QStringLiteral("exportButton"));
        EXPECT_TRUE(classes && exportButton);
        if (!classes || !exportButton)
            return int(QDialog::Rejected);
        const int stl = classes->findText(QStringLiteral("STL (*.stl)"));
        EXPECT_GE(stl, 0);
        classes->setCurrentIndex(stl);
        exportButton->click();
        return int(QDialog::Accepted);
    });
    Trigger(command::kExport);
    EXPECT_EQ(runs, 1);
    for (const auto& m : messages)
        ADD_FAILURE() << m.caption.toStdString() << ": " << m.text.toStdString();
    ASSERT_TRUE(QFileInfo::exists(target)) << "no export written";
    // The file reads back with as many triangles as the scene had.
    app->settings->clear_flag = 1;
    ASSERT_TRUE(app->OpenModelFile(target.toStdString()));
    EXPECT_EQ(app->faceCount, faces);
    EXPECT_TRUE(messages.empty());
}

} // namespace
