#include <QLineEdit>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <polyvant/ObjectList.h>

#include "AppTestSupport.h"
#include "app/CMainFrame.h"
#include "app/CMyPolyvantApp.h"
#include "app/Settings.h"
#include "dialogs/ConfigDialog.h"

namespace {

class StartupTest : public apptest::ShellTest {
protected:
    // An in-process start with the plug-ins of pluginDir; no single-instance check.
    std::unique_ptr<CMyPolyvantApp> Start(const QString& pluginDir, QStringList args = {},
                                          const QString& besideProgram = {})
    {
        WriteSettings({{"Settings/plugin_path", pluginDir}});
        CMyPolyvantApp::StartOptions options;
        options.defaultPluginPath = besideProgram.toStdString();
        options.arguments = QStringList{QStringLiteral("/usr/bin/polyvant")} + args;
        options.singleInstance = false;
        options.showWindow = false;
        auto app = std::make_unique<CMyPolyvantApp>(options);
        EXPECT_TRUE(app->InitInstance());
        return app;
    }
    std::unique_ptr<CMyPolyvantApp> StartWithBoth(QStringList args = {})
    {
        return Start(PluginSet("both", {"fixture_import", "fixture_export"}), args);
    }
    QString Status(const CMyPolyvantApp& app) const { return app.MainFrame()->MessageText(); }
    QString StoredValue(const char* key) const
    {
        return QSettings(SettingsFile(), QSettings::IniFormat).value(key).toString();
    }
};

TEST_F(StartupTest, WithoutAnyPluginSaysSoAndKeepsRunning)
{
    auto app = Start(PluginSet("none", {}));
    EXPECT_TRUE(Shown("No Plugin DLL found\nPlease check plugin path"));
    EXPECT_EQ(Status(*app), "No plugins found");
    EXPECT_EQ(app->importsAvailable, 0);
    EXPECT_EQ(app->exportsAvailable, 0);
    ASSERT_NE(app->sceneObjects, nullptr); // the containers exist in every case
}

TEST_F(StartupTest, AStoredPathWithoutPluginsFallsBackOnThoseBesideTheProgram)
{
    const QString beside = PluginSet("beside", {"fixture_import", "fixture_export"});
    const QString empty = PluginSet("empty", {});
    for (const QString& stored : {empty, Root() + QStringLiteral("/moved-away/plugin/")}) {
        messages.clear();
        {
            auto app = Start(stored, {}, beside);
            EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
            EXPECT_EQ(Status(*app), "Plugins successfully loaded");
            EXPECT_EQ(app->importClassCount, 1);
            EXPECT_EQ(app->MainFrame()->statusBar()->currentMessage(),
                      "No plug-ins in the plug-in path; using those beside the program");
            app->ExitInstance();
        }
        // The setting is the user's to change.
        EXPECT_EQ(StoredValue("Settings/plugin_path"), stored);
    }

    // With none beside the program either, the start says so as before.
    messages.clear();
    auto app = Start(empty, {}, PluginSet("also-empty", {}));
    EXPECT_TRUE(Shown("No Plugin DLL found\nPlease check plugin path"));
    EXPECT_EQ(app->importClassCount, 0);
}

TEST_F(StartupTest, WithOnlyExportPluginsReportsTheMissingImport)
{
    auto app = Start(PluginSet("export", {"fixture_export"}));
    EXPECT_TRUE(Shown("No Import Plugin DLL found\nPlease check plugin path"));
    EXPECT_EQ(Status(*app), "No import plugins found");
    EXPECT_EQ(app->importsAvailable, 0);
}

TEST_F(StartupTest, WithOnlyImportPluginsReportsTheMissingExportAndSwitchesImportsOff)
{
    WriteSettings({{"Settings/last_import_class", "Remembered"}});
    {
        auto app = Start(PluginSet("import", {"fixture_import"}));
        EXPECT_TRUE(Shown("No Export Plugin DLL found\nPlease check plugin path"));
        EXPECT_EQ(Status(*app), "No export plugins found");
        EXPECT_EQ(app->importsAvailable, 0);
        EXPECT_EQ(app->exportsAvailable, 0);
        app->ExitInstance();
    }
    // A start that could not use its tables does not overwrite the remembered names.
    EXPECT_EQ(StoredValue("Settings/last_import_class"), "Remembered");
}

TEST_F(StartupTest, WithBothKindsLoadsAndRemembersTheSelectedClasses)
{
    {
        auto app = StartWithBoth();
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(Status(*app), "Plugins successfully loaded");
        EXPECT_EQ(app->importsAvailable, 1);
        EXPECT_EQ(app->exportsAvailable, 1);
        EXPECT_EQ(app->importClassCount, 1);
        app->ExitInstance();
    }
    EXPECT_EQ(StoredValue("Settings/last_import_class"), "Fixture Import (*.fxi)");
    EXPECT_FALSE(StoredValue("Settings/last_export_class").isEmpty());
}

TEST_F(StartupTest, CommandLineFileIsImportedAndCounted)
{
    const QString model = WriteFile("m/cube.fxi");
    auto app = StartWithBoth({QStringLiteral("--verbose"), model});
    EXPECT_EQ(app->meshCount, 1);
    EXPECT_EQ(app->faceCount, 4);
    EXPECT_EQ(app->vertexCount, 4);
    EXPECT_EQ(app->MainFrame()->windowTitle(), "Polyvant V3.2 cube.fxi");
}

TEST_F(StartupTest, CommandLineFileWithUnknownExtensionIsReportedAfterLoading)
{
    auto app = StartWithBoth({WriteFile("notes.txt")});
    EXPECT_TRUE(Shown("Extension not recognized!"));
    EXPECT_EQ(Status(*app), "Plugins successfully loaded");
}

TEST_F(StartupTest, OptionsWarnOfARestartOnlyWhenThePathReallyChanged)
{
    auto app = StartWithBoth();
    const std::string original = app->settings->plugin_path;
    const auto runOptions = [&](const QString& typed, bool ok) {
        QTimer::singleShot(0, [typed, ok] {
            auto* dialog = qobject_cast<ConfigDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            if (!typed.isEmpty())
                dialog->findChild<QLineEdit*>("pathEdit")->setText(typed);
            ok ? dialog->accept() : dialog->reject();
        });
        app->OnOptions();
    };
    runOptions(QString(), true);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(app->settings->plugin_path, original);

    runOptions(QStringLiteral("/somewhere/else/"), false);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(app->settings->plugin_path, original);

    runOptions(QStringLiteral("/somewhere/else/"), true);
    EXPECT_TRUE(Shown("Please restart Plexo to scan new plugin path", "Warning"));
    EXPECT_EQ(app->settings->plugin_path, "/somewhere/else/");
}

TEST_F(StartupTest, TheRememberedImportClassIsSelectedElseTheFirst)
{
    const QString plugins =
        PluginSet("two", {"fixture_import", "fixture_import_fails", "fixture_export"});
    const std::pair<const char*, int> cases[] = {
        {"", 0}, {"No Such Class", 0}, {"Failing Import (*.fxf)", 1}};
    for (const auto& [remembered, selected] : cases) {
        WriteSettings({{"Settings/last_import_class", remembered}});
        auto app = Start(plugins);
        ASSERT_EQ(app->importClassCount, 2);
        EXPECT_EQ(app->currentImport, selected) << remembered;
        app->currentImport = 1 - selected; // as the Import dialog would
        app->ExitInstance();
        EXPECT_EQ(StoredValue("Settings/last_import_class"),
                  selected == 1 ? "Fixture Import (*.fxi)" : "Failing Import (*.fxf)");
    }
}

TEST_F(StartupTest, AFailedImportShowsThePluginsOwnMessageOnlyOnce)
{
    auto app =
        Start(PluginSet("two", {"fixture_import", "fixture_import_fails", "fixture_export"}));
    EXPECT_FALSE(app->OpenModelFile(WriteFile("quiet.fxf").toStdString()));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_TRUE(messages[0].text.contains("quiet.fxf"));
    EXPECT_EQ(app->importers->Count(), 0);
}

TEST_F(StartupTest, AnImportThatWarnsAndFindsNothingShowsOnlyTheWarning)
{
    auto app = StartWithBoth();
    EXPECT_FALSE(app->OpenModelFile(WriteFile("nothing.fxi", "empty\n").toStdString()));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Warning");
    EXPECT_TRUE(messages[0].text.contains("no meshes in"));
    EXPECT_EQ(app->importers->Count(), 0);
}

class OpenModelFileTest : public StartupTest {};

TEST_F(OpenModelFileTest, ExtensionsCompareWithoutCaseAndATableEntryChoosesTheClass)
{
    WriteSettings({{"Settings/extension/.tet", "Fixture Import (*.fxi)"}});
    auto app = StartWithBoth();
    EXPECT_TRUE(app->OpenModelFile(WriteFile("a.TET").toStdString()));
    EXPECT_TRUE(app->OpenModelFile(WriteFile("b.FXI").toStdString()));
    EXPECT_TRUE(messages.empty());
}

TEST_F(OpenModelFileTest, NamesWithoutExtensionOrWithADottedDirectoryAreNotRecognized)
{
    auto app = StartWithBoth();
    for (const QString& path : {WriteFile("v1.fxi/model"), QString(), WriteFile("plain")}) {
        messages.clear();
        EXPECT_FALSE(app->OpenModelFile(path.toStdString()));
        EXPECT_TRUE(Shown("Extension not recognized!")) << path.toStdString();
    }
}

TEST_F(OpenModelFileTest, AnEntryWhoseClassIsNotLoadedFallsBackToTheClassPatterns)
{
    WriteSettings({{"Settings/extension/.fxi", "No Such Class (*.fxi)"}});
    auto app = StartWithBoth();
    EXPECT_TRUE(app->OpenModelFile(WriteFile("a.fxi").toStdString()));
}

TEST_F(OpenModelFileTest, AFailedImportShowsWhyAndKeepsTheSceneAndLights)
{
    auto app = StartWithBoth();
    ASSERT_TRUE(app->OpenModelFile(WriteFile("a.fxi").toStdString()));
    app->ComputeSceneBounds();
    const int lightsBefore = app->lights->Count();
    ASSERT_GT(lightsBefore, 0);
    messages.clear();
    EXPECT_FALSE(app->OpenModelFile((Root() + "/missing.fxi").toStdString()));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_TRUE(messages[0].text.contains("missing.fxi"));
    EXPECT_EQ(app->meshCount, 1);
    EXPECT_EQ(app->lights->Count(), lightsBefore);
    EXPECT_EQ(app->importers->Count(), 1);
}

TEST_F(OpenModelFileTest, WithoutClearFlagTwoFilesAreShownTogether)
{
    WriteSettings({{"Settings/clear_flag", "0"}});
    auto app = StartWithBoth();
    ASSERT_TRUE(app->OpenModelFile(WriteFile("a.fxi").toStdString()));
    ASSERT_TRUE(app->OpenModelFile(WriteFile("b.fxi").toStdString()));
    EXPECT_EQ(app->meshCount, 2);
    EXPECT_EQ(app->faceCount, 8);
    EXPECT_EQ(app->vertexCount, 8);
    EXPECT_EQ(app->importers->Count(), 2);
}

TEST_F(OpenModelFileTest, WithClearFlagANewFileReplacesTheScene)
{
    auto app = StartWithBoth();
    ASSERT_TRUE(app->OpenModelFile(WriteFile("a.fxi").toStdString()));
    ASSERT_TRUE(app->OpenModelFile(WriteFile("b.fxi").toStdString()));
    EXPECT_EQ(app->meshCount, 1);
    EXPECT_EQ(app->importers->Count(), 1);
}

TEST_F(OpenModelFileTest, SceneBoundsCoverEveryMeshAndEditedLightsSurviveARebuild)
{
    auto app = StartWithBoth();
    ASSERT_TRUE(app->OpenModelFile(WriteFile("a.fxi").toStdString()));
    app->ComputeSceneBounds();
    for (int i = 0; i < 3; ++i) {
        EXPECT_LE(app->sceneMin[i], app->sceneMax[i]);
        EXPECT_DOUBLE_EQ(app->sceneCenter[i], (app->sceneMin[i] + app->sceneMax[i]) / 2);
    }
    const int lights = app->lights->Count();
    EXPECT_EQ(lights, 4);
    app->ComputeSceneBounds();
    EXPECT_EQ(app->lights->Count(), lights);
}

TEST_F(OpenModelFileTest, ADropOpensOnlyTheFirstLocalFileOnceTheLoopIsIdle)
{
    auto app = StartWithBoth();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(WriteFile("one.fxi")),
                  QUrl::fromLocalFile(WriteFile("two.fxi")),
                  QUrl::fromLocalFile(WriteFile("three.fxi"))});
    EXPECT_TRUE(app->MainFrame()->OpenDroppedFiles(&mime));
    EXPECT_EQ(app->importers->Count(), 0); // queued, not run inside the event handler
    for (int i = 0; i < 100 && app->importers->Count() == 0; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(app->importers->Count(), 1);
    EXPECT_TRUE(app->MainFrame()->windowTitle().endsWith("one.fxi"));
}

TEST(CommandLine, TakesTheFirstArgumentThatIsNotASwitchAndMakesItAbsolute)
{
    EXPECT_EQ(CommandLineFileName({"pv"}), "");
    EXPECT_EQ(CommandLineFileName({"pv", "--verbose", "/a/b.obj", "/c.obj"}), "/a/b.obj");
    EXPECT_EQ(CommandLineFileName({"pv", "--", "-dash.obj"}),
              QDir::current().absoluteFilePath("-dash.obj"));
    EXPECT_EQ(CommandLineFileName({"pv", "rel/m.obj"}),
              QDir::current().absoluteFilePath("rel/m.obj"));
}

} // namespace
