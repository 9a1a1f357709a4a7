#include "dialogs/ConfigDialog.h"

#include <gtest/gtest.h>
#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/UiServices.h"

using polyvant::FileDialogRequest;

namespace {

QApplication& Application()
{
    static int argc = 1;
    static char name[] = "dialogs_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class ConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        m_previous = polyvant::SetFileDialogFunction([this](const FileDialogRequest& r) {
            requests.push_back(r);
            return answer;
        });
        dialog = std::make_unique<ConfigDialog>();
        dialog->SetValues("/old/plugins/", true);
    }
    void TearDown() override { polyvant::SetFileDialogFunction(m_previous); }

    QLineEdit* Edit() { return dialog->findChild<QLineEdit*>("pathEdit"); }
    QCheckBox* Check() { return dialog->findChild<QCheckBox*>("clearCheck"); }
    void Click(const char* name) { dialog->findChild<QPushButton*>(name)->click(); }

    std::vector<FileDialogRequest> requests;
    QString answer;

    std::unique_ptr<ConfigDialog> dialog; // made once the QApplication exists

private:
    polyvant::FileDialogFunction m_previous;
};

TEST_F(ConfigDialogTest, ShowsTheValuesUnderTheProductTitle)
{
    EXPECT_EQ(dialog->windowTitle(), "Polyvant Configuration");
    EXPECT_EQ(Edit()->text(), "/old/plugins/");
    EXPECT_TRUE(Check()->isChecked());
}

TEST_F(ConfigDialogTest, BrowsingChoosesADirectoryAndAddsTheSeparator)
{
    answer = "/tools/plug";
    Click("browseButton");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].mode, FileDialogRequest::kDirectory);
    EXPECT_EQ(requests[0].title, "Choose Directory");
    EXPECT_EQ(requests[0].startDirectory, "/old/plugins/");
    EXPECT_EQ(Edit()->text(), "/tools/plug/");
    answer.clear(); // cancelled: nothing changes
    Click("browseButton");
    EXPECT_EQ(Edit()->text(), "/tools/plug/");
}

TEST_F(ConfigDialogTest, CancelDiscardsEveryChange)
{
    answer = "/new";
    Click("browseButton");
    Check()->setChecked(false);
    Click("cancelButton");
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(dialog->Path(), "/old/plugins/");
    EXPECT_TRUE(dialog->ClearAtImport());
}

TEST_F(ConfigDialogTest, OkTakesATypedPathAndTheCheckBox)
{
    Edit()->setText("  /typed/dir/ ");
    Check()->setChecked(false);
    Click("okButton");
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->Path(), "/typed/dir/");
    EXPECT_FALSE(dialog->ClearAtImport());
}

TEST_F(ConfigDialogTest, OkWithAnEmptiedEditKeepsThePath)
{
    Edit()->clear();
    Click("okButton");
    EXPECT_EQ(dialog->Path(), "/old/plugins/");
}

} // namespace

// Fontconfig keeps a cache for the life of the process; it is not ours to free.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}
