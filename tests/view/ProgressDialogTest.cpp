// The progress dialog: percentages, keys that must not close it, the owner's state.
#include "ProgressDialog.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

namespace polyvant {
namespace {

TEST(ProgressDialogTest, ShowsThePercentOfEachPositionAndSetsItOnlyWhenItChanges)
{
    ProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    EXPECT_EQ(dialog.PercentText(), " 0 %");
    EXPECT_EQ(dialog.windowTitle(), "Progress");
    dialog.SetPos(0);
    EXPECT_EQ(dialog.PercentText(), "0%");
    for (int pos : {20, 55, 100}) {
        dialog.SetPos(pos);
        EXPECT_EQ(dialog.PercentText(), QString("%1%").arg(pos));
        EXPECT_EQ(dialog.Position(), pos);
    }
    const int updates = dialog.PercentUpdates();
    dialog.SetPos(100);
    EXPECT_EQ(dialog.PercentUpdates(), updates);
    dialog.SetStatus("Reset Views");
    EXPECT_EQ(dialog.StatusText(), "Reset Views");
    dialog.DestroyWindow();
}

TEST(ProgressDialogTest, EnterAndEscapeLeaveItOpen)
{
    ProgressDialog dialog;
    dialog.Create(nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_FALSE(dialog.close());
    EXPECT_TRUE(dialog.isVisible());
    dialog.DestroyWindow();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(ProgressDialogTest, DisablesTheOwnerWhileOpenAndLeavesADisabledOwnerDisabled)
{
    QWidget owner;
    {
        ProgressDialog dialog;
        dialog.Create(&owner);
        EXPECT_FALSE(owner.isEnabled());
        dialog.DestroyWindow();
        EXPECT_TRUE(owner.isEnabled());
    }
    {
        ProgressDialog dialog;
        dialog.Create(&owner);
        EXPECT_FALSE(owner.isEnabled());
    } // destroyed without DestroyWindow: the destructor enables the owner
    EXPECT_TRUE(owner.isEnabled());
    owner.setEnabled(false);
    {
        ProgressDialog dialog;
        dialog.Create(&owner);
        dialog.DestroyWindow();
    }
    EXPECT_FALSE(owner.isEnabled());
}

} // namespace
} // namespace polyvant
