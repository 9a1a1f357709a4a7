#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QWhatsThis>

#include "AppTestSupport.h"
#include "app/AboutDlg.h"
#include "app/CMainFrame.h"
#include "app/CMyPolyvantApp.h"
#include "app/HelpWindow.h"
#include "app/Settings.h"

using namespace polyvant;

namespace {

class MainFrameTest : public apptest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        CMyPolyvantApp::StartOptions options;
        options.arguments = {QStringLiteral("/usr/bin/polyvant")};
        options.singleInstance = false;
        app = std::make_unique<CMyPolyvantApp>(options);
        frame = std::make_unique<CMainFrame>(*app);
    }
    std::unique_ptr<CMyPolyvantApp> app;
    std::unique_ptr<CMainFrame> frame;
};

TEST_F(MainFrameTest, MenusCarryTheCommandsWithTheirKeysAndPrompts)
{
    struct Expected {
        int id;
        const char* text;
        QKeySequence key;
        const char* tip;
    };
    const Expected expected[] = {
        {command::kImport, "&Import (F3)...", QKeySequence(Qt::Key_F3), "Call Import Dialog"},
        {command::kExport, "&Export (F2) ...", QKeySequence(Qt::Key_F2), ""},
        {command::kExit, "&Exit (ALT F4)", QKeySequence(Qt::ALT | Qt::Key_F4), "Quit Plexo"},
        {command::kStatistic, "&Statistic (F8)", QKeySequence(Qt::Key_F8),
         "Call Statistics Dialog"},
        {command::kOptions, "&Options", QKeySequence(), "Call Plexo options"},
        {command::kLightSetup, "&LightSetup (F5)", QKeySequence(Qt::Key_F5), ""},
        {command::kViewOptions, "&Options (F7)", QKeySequence(Qt::Key_F7), ""},
        {command::kHelpIndex, "&Help", QKeySequence(), "Help Index"},
        {command::kOpenGLInfo, "Info about OpenGL ...", QKeySequence(), ""},
        {command::kAbout, "Inf&o about Polyvant ...", QKeySequence(), "Shows Product Info."},
        {command::kContextHelp, "Context Help", QKeySequence(Qt::SHIFT | Qt::Key_F1), ""},
    };
    for (const Expected& e : expected) {
        QAction* action = frame->Action(e.id);
        ASSERT_NE(action, nullptr) << e.id;
        EXPECT_EQ(action->text(), e.text);
        EXPECT_EQ(action->shortcut(), e.key) << e.text;
        EXPECT_EQ(action->statusTip(), e.tip) << e.text;
        EXPECT_EQ(action->data().toInt(), e.id);
    }
    QStringList menus;
    for (QAction* menu : frame->menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Edit", "Views", "&?"}));
}

TEST_F(MainFrameTest, StatusBarHasAMessagePaneAndThreeCountPanes)
{
    EXPECT_EQ(frame->CountText(command::kMeshIndicator), "M:0");
    frame->SetCount(command::kMeshIndicator, 2);
    frame->SetCount(command::kFaceIndicator, 24);
    frame->SetCount(command::kVertexIndicator, 16);
    EXPECT_EQ(frame->CountText(command::kMeshIndicator), "M:2");
    EXPECT_EQ(frame->CountText(command::kFaceIndicator), "F:24");
    EXPECT_EQ(frame->CountText(command::kVertexIndicator), "V:16");
    frame->SetMessageText("Start loading plugins ...");
    frame->statusBar()->showMessage("Call Import Dialog");
    frame->statusBar()->clearMessage(); // the menu prompt went away
    EXPECT_EQ(frame->MessageText(), "Press F1 for help");
}

TEST_F(MainFrameTest, ContextHelpPromptsUntilTheModeEnds)
{
    frame->Action(command::kContextHelp)->trigger();
    EXPECT_EQ(frame->MessageText(), "Select Object for help");
    ASSERT_TRUE(QWhatsThis::inWhatsThisMode());
    QWhatsThis::leaveWhatsThisMode();
    EXPECT_EQ(frame->MessageText(), "Press F1 for help");
}

TEST_F(MainFrameTest, MenusShowEachKeyOnlyInTheItemTextAndTheirEntriesRunTheCommands)
{
    int calls = 0;
    frame->SetCommandHandler(command::kStatistic, [&] { ++calls; });
    int entries = 0;
    for (QAction* menu : frame->menuBar()->actions()) {
        for (QAction* entry : menu->menu()->actions()) {
            if (entry->isSeparator())
                continue;
            ++entries;
            EXPECT_TRUE(entry->shortcut().isEmpty()) << entry->text().toStdString();
            if (entry->text() == "&Statistic (F8)") {
                EXPECT_EQ(entry->statusTip(), "Call Statistics Dialog");
                entry->trigger();
            }
        }
    }
    EXPECT_EQ(entries, 10);
    EXPECT_EQ(calls, 1);
}

TEST_F(MainFrameTest, CannotBeMadeSmallerThan150By200)
{
    frame->resize(10, 10);
    EXPECT_GE(frame->width(), 150);
    EXPECT_GE(frame->height(), 200);
}

TEST_F(MainFrameTest, ViewCommandsSayTheyAreNotAvailableUntilTheViewTakesThemOver)
{
    frame->Action(command::kImport)->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "This command is not available yet.");
    int calls = 0;
    frame->SetCommandHandler(command::kImport, [&] { ++calls; });
    frame->Action(command::kImport)->trigger();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(MainFrameTest, HelpShowsTheShippedGuide)
{
    frame->Action(command::kHelp)->trigger();
    auto* help = frame->findChild<HelpWindow*>();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->Browser()->toPlainText().contains("Polyvant User Guide"));
    EXPECT_TRUE(help->Browser()->toPlainText().contains("Moving around in the panes"));
    help->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
    QTest::keyClick(help->Browser(), Qt::Key_Escape);
    EXPECT_FALSE(help->isVisible());
}

TEST(AboutBox, ShowsNameVersionAndBuild)
{
    apptest::Application();
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "Polyvant Info");
    EXPECT_EQ(about.findChild<QLabel*>("versionLabel")->text(), "Polyvant, Version 3.2");
    EXPECT_EQ(about.findChild<QLabel*>("buildLabel")->text(), "Build: 194");
}

} // namespace
