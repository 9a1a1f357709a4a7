#include "dialogs/ViewOptionsDialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
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
        dialog.SetTitles(1);
    }

    QRadioButton* Radio(const char* prefix, int k)
    {
        return dialog.findChild<QRadioButton*>(QString::fromLatin1(prefix) + QString::number(k));
    }
    // The mode whose button is checked in a group, -1 for none.
    int Checked(const char* prefix)
    {
        int found = -1;
        for (int k = 0; k < 6; ++k) {
            if (Radio(prefix, k)->isChecked()) {
                EXPECT_EQ(found, -1) << "two buttons checked";
                found = k;
            }
        }
        return found;
    }
    QComboBox* Combo() { return dialog.findChild<QComboBox*>("paneCombo"); }

    QApplication& app = dialogtest::Application(); // before the first widget
    ViewOptionsDialog dialog;
};

TEST_F(ViewOptionsDialogTest, OpensOnTheUserViewShowingItsPair)
{
    EXPECT_EQ(dialog.windowTitle(), "View Options");
    ASSERT_EQ(Combo()->count(), 4);
    EXPECT_EQ(Combo()->itemText(0), "Top View");
    EXPECT_EQ(Combo()->currentText(), "User View");
    EXPECT_EQ(Checked("renderModeBox"), 3);
    EXPECT_EQ(Checked("fastModeBox"), 2);
    EXPECT_TRUE(dialog.findChild<QCheckBox*>("viewTitlesCheck")->isChecked());
}

TEST_F(ViewOptionsDialogTest, ChoosingWireAndPointForTheSidePaneChangesOnlyThatPane)
{
    Combo()->setCurrentIndex(1);
    Radio("renderModeBox", 2)->click();
    Radio("fastModeBox", 5)->click();
    dialog.findChild<QPushButton*>("okButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Mode(1), 2);
    EXPECT_EQ(dialog.FastMode(1), 5);
    for (int pane : {0, 2, 3}) {
        EXPECT_EQ(dialog.Mode(pane), pane);
        EXPECT_EQ(dialog.FastMode(pane), 5 - pane);
    }
}

TEST_F(ViewOptionsDialogTest, EachPaneShowsItsOwnPairAndKeepsItsChanges)
{
    Combo()->setCurrentIndex(0);
    EXPECT_EQ(Checked("renderModeBox"), 0);
    EXPECT_EQ(Checked("fastModeBox"), 5);
    Radio("renderModeBox", 4)->click();
    Combo()->setCurrentIndex(2);
    EXPECT_EQ(Checked("renderModeBox"), 2);
    EXPECT_EQ(Checked("fastModeBox"), 3);
    Combo()->setCurrentIndex(0);
    EXPECT_EQ(Checked("renderModeBox"), 4);
    EXPECT_EQ(dialog.Mode(0), 4);
}

TEST_F(ViewOptionsDialogTest, TheTitlesBoxWritesTheTitlesSwitch)
{
    auto* titles = dialog.findChild<QCheckBox*>("viewTitlesCheck");
    titles->click();
    EXPECT_EQ(dialog.Titles(), 0);
    titles->click();
    EXPECT_EQ(dialog.Titles(), 1);
}

TEST_F(ViewOptionsDialogTest, CancelEndsTheDialogAsRejected)
{
    Radio("renderModeBox", 0)->click();
    dialog.findChild<QPushButton*>("cancelButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(ViewOptionsDialogTest, AModeNoButtonStandsForChecksNoneAndIsKept)
{
    dialog.SetModePair(3, 9, -1);
    EXPECT_EQ(Checked("renderModeBox"), -1);
    EXPECT_EQ(Checked("fastModeBox"), -1);
    EXPECT_EQ(dialog.Mode(3), 9);
    Radio("fastModeBox", 1)->click();
    EXPECT_EQ(dialog.FastMode(3), 1);
    EXPECT_EQ(dialog.Mode(3), 9);
}

} // namespace
