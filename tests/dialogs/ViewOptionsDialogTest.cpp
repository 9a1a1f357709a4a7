#include "dialogs/ViewOptionsDialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>

#include "SceneDialogTestSupport.h"

namespace {

class ViewOptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Distinct pairs per pane, so a write to the wrong pane shows.
        for (int pane = 0; pane < 4; ++pane)
            dialog.SetModePair(pane, pane, 5 - pane);
    }
    QRadioButton* Radio(const char* prefix, int k)
    {
        return dialog.findChild<QRadioButton*>(QString::fromLatin1(prefix) + QString::number(k));
    }
    // The modes whose buttons are checked in the render and fast groups.
    std::vector<int> Checked()
    {
        std::vector<int> found;
        for (const char* prefix : {"renderModeBox", "fastModeBox"})
            for (int k = 0; k < 6; ++k)
                if (Radio(prefix, k)->isChecked())
                    found.push_back(k);
        return found;
    }
    void ChoosePane(int pane) { dialog.findChild<QComboBox*>("paneCombo")->setCurrentIndex(pane); }

    QApplication& app = dialogtest::Application(); // before the first widget
    ViewOptionsDialog dialog;
};

TEST_F(ViewOptionsDialogTest, OpensOnTheUserViewAndChoicesGoToTheChosenPaneOnly)
{
    EXPECT_EQ(dialog.findChild<QComboBox*>("paneCombo")->currentText(), "User View");
    EXPECT_EQ(Checked(), (std::vector<int>{3, 2}));
    ChoosePane(1);
    EXPECT_EQ(Checked(), (std::vector<int>{1, 4}));
    Radio("renderModeBox", 2)->click();
    Radio("fastModeBox", 5)->click();
    ChoosePane(2);
    EXPECT_EQ(Checked(), (std::vector<int>{2, 3}));
    ChoosePane(1);
    EXPECT_EQ(Checked(), (std::vector<int>{2, 5}));
    dialog.findChild<QCheckBox*>("viewTitlesCheck")->click();
    dialogtest::Click(dialog, "okButton");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Mode(1), 2);
    EXPECT_EQ(dialog.FastMode(1), 5);
    EXPECT_EQ(dialog.Titles(), 0);
    for (int pane : {0, 2, 3})
        EXPECT_EQ(std::make_pair(dialog.Mode(pane), dialog.FastMode(pane)),
                  std::make_pair(pane, 5 - pane));
}

TEST_F(ViewOptionsDialogTest, AModeNoButtonStandsForChecksNoneAndIsKept)
{
    dialog.SetModePair(3, 9, -1);
    EXPECT_TRUE(Checked().empty());
    Radio("fastModeBox", 1)->click();
    EXPECT_EQ(dialog.FastMode(3), 1);
    EXPECT_EQ(dialog.Mode(3), 9);
}

} // namespace
