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
#include <QTimer>

#include "DialogTestSupport.h"

namespace polyvant::test {
namespace {

class GuiHostBackendTest : public ::testing::Test {
protected:
    std::string Take(char* path)
    {
        std::string out = path ? path : "(null)";
        std::free(path);
        return out;
    }
    UiRecorder ui;
    GuiHostBackend services;
    const PvHostServices* t = services.Table();
};

TEST(FileFilter, ListsTheClassNamesPatternsInBothCasesThenAllFiles)
{
    EXPECT_EQ(FileFilterFromClassName("WaveFront (*.obj)"),
              QStringLiteral("WaveFront (*.obj *.OBJ);;All files (*)"));
    EXPECT_EQ(FileFilterFromClassName("3D Studio (*.3ds, *.prj)"),
              QStringLiteral("3D Studio (*.3ds *.3DS *.prj *.PRJ);;All files (*)"));
    EXPECT_EQ(FileFilterFromClassName("No patterns"), QStringLiteral("All files (*)"));
    EXPECT_EQ(FileFilterFromClassName(nullptr), QStringLiteral("All files (*)"));
}

TEST_F(GuiHostBackendTest, FilePromptsAnswerAbsolutePathsOrNullWhenCancelled)
{
    ui.answers = {QStringLiteral("rel/model.obj"), QStringLiteral("/tmp/out"),
                  QStringLiteral("/tmp/out.txt")};
    EXPECT_EQ(Take(t->askOpenFile(t->context, "Import", "WaveFront (*.obj)")),
              QDir::current().absoluteFilePath("rel/model.obj").toStdString());
    EXPECT_EQ(ui.requests[0].filter, QStringLiteral("WaveFront (*.obj *.OBJ);;All files (*)"));
    // A name without extension gets the default one; another extension stays.
    EXPECT_EQ(Take(t->askSaveFile(t->context, "Export", "WaveFront (*.obj)", ".obj")),
              "/tmp/out.obj");
    EXPECT_EQ(Take(t->askSaveFile(t->context, "Export", "WaveFront (*.obj)", "obj")),
              "/tmp/out.txt");
    EXPECT_EQ(ui.requests[1].mode, FileDialogRequest::kSaveFile);
    EXPECT_EQ(ui.requests[1].defaultSuffix, QStringLiteral("obj"));
    EXPECT_FALSE(services.PromptCancelled());
    EXPECT_EQ(t->askOpenFile(t->context, "Import", "WaveFront (*.obj)"), nullptr);
    EXPECT_TRUE(services.PromptCancelled());
    // Each prompt opens where the last chosen file was; a cancelled one changes nothing.
    EXPECT_EQ(ui.requests[0].startDirectory, QString());
    EXPECT_EQ(ui.requests[1].startDirectory, QDir::current().absoluteFilePath("rel"));
    EXPECT_EQ(ui.requests[3].startDirectory, QStringLiteral("/tmp"));
    services.RememberFolderOf(QStringLiteral("/srv/models/dropped.obj"));
    EXPECT_EQ(t->askOpenFile(t->context, "Import", "WaveFront (*.obj)"), nullptr);
    EXPECT_EQ(ui.requests[4].startDirectory, QStringLiteral("/srv/models"));
}

TEST_F(GuiHostBackendTest, ErrorsAndWarningsAreMessageBoxesAndInformationGoesToTheStatus)
{
    QStringList status;
    services.SetStatusSink([&](const QString& text) { status << text; });
    t->report(t->context, PV_ERROR, "a.obj: line 3: bad face");
    t->report(t->context, PV_WARNING, "a.obj: 2 normals ignored");
    t->report(t->context, PV_INFO, "a.obj: import cancelled");
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, QStringLiteral("a.obj: line 3: bad face"));
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(ui.boxes[1].caption, QStringLiteral("Warning"));
    EXPECT_EQ(status, QStringList{QStringLiteral("a.obj: import cancelled")});
}

TEST_F(GuiHostBackendTest, ProgressCancelStopsTheWorkUntilTheNextOperation)
{
    services.BeginOperation();
    ASSERT_TRUE(services.Progress(0.5, "Reading"));
    EXPECT_EQ(services.ProgressWindow()->value(), 500);
    EXPECT_EQ(services.ProgressWindow()->labelText(), QStringLiteral("Reading"));
    // The click arrives while the next progress call runs pending events.
    QTimer::singleShot(0, services.ProgressWindow(), &QProgressDialog::cancel);
    EXPECT_FALSE(services.Progress(7.0, nullptr));
    EXPECT_FALSE(services.Progress(0.6, nullptr));
    services.EndOperation();
    EXPECT_EQ(services.ProgressWindow(), nullptr);
    services.BeginOperation();
    EXPECT_TRUE(services.Progress(0.1, "Reading"));
    services.EndOperation();
    // Outside an operation a Cancel is answered once, then forgotten.
    ASSERT_TRUE(services.Progress(0.1, nullptr));
    QTimer::singleShot(0, services.ProgressWindow(), &QProgressDialog::cancel);
    EXPECT_FALSE(services.Progress(0.2, nullptr));
    EXPECT_TRUE(services.Progress(0.0, nullptr));
}

class OptionsEditing : public GuiHostBackendTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OptionsEditing, WritesEveryTypeBackOnlyWhenAccepted)
{
    const bool accept = GetParam();
    PvOption o[6] = {
        {"flag", "Flag", PV_OPTION_BOOL, 0, 0, 0, 0, 0, nullptr, nullptr},
        {"count", "Count", PV_OPTION_INT, 0, 3, 0, 1, 10, nullptr, nullptr},
        {"scale", "Scale", PV_OPTION_DOUBLE, 0, 0, 1.5, 0.5, 2.0, nullptr, nullptr},
        {"units", "Units", PV_OPTION_CHOICE, 0, 1, 0, 0, 0, "mm|cm|m", nullptr},
        {"name", "Name", PV_OPTION_STRING, 0, 0, 0, 0, 0, nullptr, strdup("old")},
        {"bare", "Bare", PV_OPTION_CHOICE, 0, 9, 0, 0, 0, nullptr, nullptr},
    };
    char* before = o[4].stringValue;
    ui.dialogs = [&](QDialog& d) {
        d.findChild<QCheckBox*>(QStringLiteral("flag"))->setChecked(true);
        d.findChild<QSpinBox*>(QStringLiteral("count"))->setValue(99); // held to 10
        d.findChild<QDoubleSpinBox*>(QStringLiteral("scale"))->setValue(1.75);
        d.findChild<QComboBox*>(QStringLiteral("units"))->setCurrentIndex(2);
        d.findChild<QLineEdit*>(QStringLiteral("name"))->setText(QStringLiteral("new"));
        return int(accept ? QDialog::Accepted : QDialog::Rejected);
    };
    EXPECT_EQ(t->editOptions(t->context, "Options", o, 6), accept ? 1 : 0);
    EXPECT_EQ(o[0].intValue, accept ? 1 : 0);
    EXPECT_EQ(o[1].intValue, accept ? 10 : 3);
    EXPECT_DOUBLE_EQ(o[2].doubleValue, accept ? 1.75 : 1.5);
    EXPECT_EQ(o[3].intValue, accept ? 2 : 1);
    EXPECT_STREQ(o[4].stringValue, accept ? "new" : "old");
    EXPECT_EQ(o[4].stringValue == before, !accept);
    EXPECT_EQ(o[5].intValue, 9); // a choice without entries keeps its value
    std::free(o[4].stringValue);
}

INSTANTIATE_TEST_SUITE_P(OkAndCancel, OptionsEditing, ::testing::Bool());

} // namespace
} // namespace polyvant::test
