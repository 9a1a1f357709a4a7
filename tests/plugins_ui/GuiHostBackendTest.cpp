#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QSpinBox>
#include <QTextBrowser>
#include <QTimer>

#include "DialogTestSupport.h"
#include "plugins/ui/OptionsDialog.h"

namespace polyvant::test {
namespace {

class GuiHostBackendTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
    UiRecorder ui;
    GuiHostBackend services;
};

std::string Take(char* path)
{
    std::string out = path ? path : "(null)";
    std::free(path);
    return out;
}

TEST(FileFilter, ListsEachPatternOfTheClassNameInBothCases)
{
    EXPECT_EQ(FileFilterFromClassName("WaveFront (*.obj)"),
              QStringLiteral("WaveFront (*.obj *.OBJ);;All files (*)"));
    EXPECT_EQ(FileFilterFromClassName("3D Studio (*.3ds, *.prj)"),
              QStringLiteral("3D Studio (*.3ds *.3DS *.prj *.PRJ);;All files (*)"));
}

TEST(FileFilter, OffersAllFilesWhenTheNameHasNoPatterns)
{
    EXPECT_EQ(FileFilterFromClassName("Plain name"), QStringLiteral("All files (*)"));
    EXPECT_EQ(FileFilterFromClassName(nullptr), QStringLiteral("All files (*)"));
}

TEST_F(GuiHostBackendTest, OpenPromptReturnsTheChosenPathMadeAbsolute)
{
    ui.answers.push_back(QStringLiteral("relative/model.obj"));
    const PvHostServices* t = services.Table();
    const std::string path = Take(t->askOpenFile(t->context, "Import", "WaveFront (*.obj)"));
    EXPECT_EQ(path, QDir::current().absoluteFilePath("relative/model.obj").toStdString());
    ASSERT_EQ(ui.requests.size(), 1u);
    EXPECT_EQ(ui.requests[0].title, QStringLiteral("Import"));
    EXPECT_EQ(ui.requests[0].filter, QStringLiteral("WaveFront (*.obj *.OBJ);;All files (*)"));
    EXPECT_EQ(services.LastChosenPath().toStdString(), path);
}

TEST_F(GuiHostBackendTest, CancelledPromptReturnsNullAndIsRemembered)
{
    services.BeginOperation();
    const PvHostServices* t = services.Table();
    EXPECT_EQ(t->askOpenFile(t->context, "Import", "WaveFront (*.obj)"), nullptr);
    EXPECT_TRUE(services.PromptCancelled());
    services.BeginOperation();
    EXPECT_FALSE(services.PromptCancelled());
}

TEST_F(GuiHostBackendTest, SavePromptAddsTheDefaultExtensionOnlyWhenTheNameHasNone)
{
    ui.answers = {QStringLiteral("/tmp/out"), QStringLiteral("/tmp/out.txt")};
    const PvHostServices* t = services.Table();
    EXPECT_EQ(Take(t->askSaveFile(t->context, "Export", "WaveFront (*.obj)", ".obj")),
              "/tmp/out.obj");
    EXPECT_EQ(Take(t->askSaveFile(t->context, "Export", "WaveFront (*.obj)", "obj")),
              "/tmp/out.txt");
    EXPECT_EQ(ui.requests[0].mode, FileDialogRequest::kSaveFile);
    EXPECT_EQ(ui.requests[0].defaultSuffix, QStringLiteral("obj"));
}

TEST_F(GuiHostBackendTest, ErrorsAndWarningsBecomeMessageBoxesAndInformationGoesToTheStatus)
{
    QStringList status;
    services.SetStatusSink([&](const QString& text) { status << text; });
    const PvHostServices* t = services.Table();
    t->report(t->context, PV_ERROR, "a.obj: line 3: bad face");
    t->report(t->context, PV_WARNING, "a.obj: 2 normals ignored");
    t->report(t->context, PV_INFO, "a.obj: import cancelled");
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, QStringLiteral("a.obj: line 3: bad face"));
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(ui.boxes[1].caption, QStringLiteral("Warning"));
    EXPECT_EQ(status, QStringList{QStringLiteral("a.obj: import cancelled")});
    EXPECT_EQ(services.ErrorCount(), 1);
}

TEST_F(GuiHostBackendTest, CapturedMessagesAreCollectedInsteadOfShown)
{
    services.BeginCapture();
    services.Report(PV_ERROR, "first");
    services.Report(PV_WARNING, "second");
    const auto messages = services.EndCapture();
    EXPECT_TRUE(ui.boxes.empty());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, QStringLiteral("first"));
    EXPECT_EQ(messages[1].severity, PV_WARNING);
    services.Report(PV_ERROR, "third");
    EXPECT_EQ(ui.boxes.size(), 1u);
}

TEST_F(GuiHostBackendTest, ProgressShowsAWindowThatEndsWithTheOperation)
{
    services.BeginOperation();
    EXPECT_TRUE(services.Progress(0.5, "Reading"));
    ASSERT_NE(services.ProgressWindow(), nullptr);
    EXPECT_EQ(services.ProgressWindow()->value(), 500);
    EXPECT_EQ(services.ProgressWindow()->labelText(), QStringLiteral("Reading"));
    EXPECT_TRUE(services.Progress(7.0, nullptr)); // out of range is held to the end
    EXPECT_EQ(services.ProgressWindow()->value(), 1000);
    services.EndOperation();
    EXPECT_EQ(services.ProgressWindow(), nullptr);
}

TEST_F(GuiHostBackendTest, CancelInTheProgressWindowStopsTheWorkUntilTheNextOperation)
{
    services.BeginOperation();
    ASSERT_TRUE(services.Progress(0.1, "Reading"));
    // The click arrives while the plug-in's next progress call runs pending events.
    QTimer::singleShot(0, services.ProgressWindow(), &QProgressDialog::cancel);
    EXPECT_FALSE(services.Progress(0.2, "Reading"));
    EXPECT_FALSE(services.Progress(0.3, "Reading"));
    EXPECT_TRUE(services.ProgressCancelled());
    services.EndOperation();
    services.BeginOperation();
    EXPECT_TRUE(services.Progress(0.1, "Reading"));
    services.EndOperation();
}

TEST_F(GuiHostBackendTest, HelpTextIsShownUnderItsTitle)
{
    QString title, shown;
    DialogAnswer answer([&](QDialog& dialog) {
        title = dialog.windowTitle();
        shown = dialog.findChild<QTextBrowser*>(QStringLiteral("helpBrowser"))->toPlainText();
        return int(QDialog::Accepted);
    });
    services.ShowHelp("OBJ import", "<p>Reads <b>faces</b>.</p>");
    EXPECT_EQ(title, QStringLiteral("OBJ import"));
    EXPECT_EQ(shown, QStringLiteral("Reads faces."));
}

struct Options {
    PvOption o[5];
    Options()
        : o{
              {"flag", "Flag", PV_OPTION_BOOL, 0, 0, 0, 0, 0, nullptr, nullptr},
              {"count", "Count", PV_OPTION_INT, 0, 3, 0, 1, 10, nullptr, nullptr},
              {"scale", "Scale", PV_OPTION_DOUBLE, 0, 0, 1.5, 0.5, 2.0, nullptr, nullptr},
              {"units", "Units", PV_OPTION_CHOICE, 0, 1, 0, 0, 0, "mm|cm|m", nullptr},
              {"name", "Name", PV_OPTION_STRING, 0, 0, 0, 0, 0, nullptr, strdup("old")},
          }
    {
    }
    ~Options() { std::free(o[4].stringValue); }
};

void EditAll(QDialog& dialog)
{
    dialog.findChild<QCheckBox*>(QStringLiteral("flag"))->setChecked(true);
    dialog.findChild<QSpinBox*>(QStringLiteral("count"))->setValue(99); // held to 10
    dialog.findChild<QDoubleSpinBox*>(QStringLiteral("scale"))->setValue(1.75);
    dialog.findChild<QComboBox*>(QStringLiteral("units"))->setCurrentIndex(2);
    dialog.findChild<QLineEdit*>(QStringLiteral("name"))->setText(QStringLiteral("new name"));
}

TEST_F(GuiHostBackendTest, AcceptedOptionsDialogWritesEveryTypeBack)
{
    Options options;
    DialogAnswer answer([](QDialog& dialog) {
        EditAll(dialog);
        return int(QDialog::Accepted);
    });
    const PvHostServices* t = services.Table();
    ASSERT_EQ(t->editOptions(t->context, "Options", options.o, 5), 1);
    EXPECT_EQ(options.o[0].intValue, 1);
    EXPECT_EQ(options.o[1].intValue, 10);
    EXPECT_DOUBLE_EQ(options.o[2].doubleValue, 1.75);
    EXPECT_EQ(options.o[3].intValue, 2);
    EXPECT_STREQ(options.o[4].stringValue, "new name");
}

TEST_F(GuiHostBackendTest, CancelledOptionsDialogLeavesTheOptionsUnchanged)
{
    Options options;
    char* before = options.o[4].stringValue;
    DialogAnswer answer([](QDialog& dialog) {
        EditAll(dialog);
        return int(QDialog::Rejected);
    });
    const PvHostServices* t = services.Table();
    EXPECT_EQ(t->editOptions(t->context, "Options", options.o, 5), 0);
    EXPECT_EQ(options.o[0].intValue, 0);
    EXPECT_EQ(options.o[1].intValue, 3);
    EXPECT_DOUBLE_EQ(options.o[2].doubleValue, 1.5);
    EXPECT_EQ(options.o[3].intValue, 1);
    EXPECT_EQ(options.o[4].stringValue, before);
    EXPECT_STREQ(options.o[4].stringValue, "old");
}

TEST(OptionsDialog, ShowsValuesOutsideTheirRangeHeldToIt)
{
    EnsureApplication();
    PvOption odd[3] = {
        {"low", "Low", PV_OPTION_INT, 0, -50, 0, 1, 10, nullptr, nullptr},
        {"backwards", "Backwards", PV_OPTION_DOUBLE, 0, 0, 5, 10, 1, nullptr, nullptr},
        {"choice", "Choice", PV_OPTION_CHOICE, 0, 9, 0, 0, 0, nullptr, nullptr},
    };
    OptionsDialog dialog(QStringLiteral("Odd"), odd, 3);
    EXPECT_EQ(dialog.findChild<QSpinBox*>(QStringLiteral("low"))->value(), 1);
    EXPECT_DOUBLE_EQ(dialog.findChild<QDoubleSpinBox*>(QStringLiteral("backwards"))->value(), 5);
    dialog.WriteBack(odd, 3);
    EXPECT_EQ(odd[0].intValue, 1);
    EXPECT_EQ(odd[2].intValue, 9); // a choice list without entries keeps its value
}

} // namespace
} // namespace polyvant::test
