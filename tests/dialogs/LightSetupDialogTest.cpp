#include "dialogs/LightSetupDialog.h"

#include <gtest/gtest.h>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include <polyvant/ObjectList.h>

#include "SceneDialogTestSupport.h"
#include "app/UiServices.h"

using dialogtest::MakeLight;
using polyvant::Light3d;

namespace {

class LightSetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialogtest::Application();
        front = MakeLight("FrontLight1", 0.3, 0.3, 0.3);
        back = MakeLight("BackLight1", 0.95, 0.275, 0.275);
        lights.Append(front);
        lights.Append(back);
    }

    std::unique_ptr<LightSetupDialog> Open()
    {
        return std::make_unique<LightSetupDialog>(&lights,
                                                  [this](int index) { changed.push_back(index); });
    }

    template <class T>
    static T* Find(QDialog& d, const char* name)
    {
        T* widget = d.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static QLineEdit* Edit(QDialog& d, const char* name) { return Find<QLineEdit>(d, name); }
    static QScrollBar* Bar(QDialog& d, const char* name) { return Find<QScrollBar>(d, name); }

    // Types text into the edit and moves the focus away from it.
    static void Type(QDialog& d, const char* edit, const QString& text)
    {
        Edit(d, edit)->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(Edit(d, edit), &out);
    }

    polyvant::ObjectList lights{polyvant::DeleteSceneObject};
    Light3d* front = nullptr;
    Light3d* back = nullptr;
    std::vector<int> changed;
};

TEST_F(LightSetupDialogTest, OpensOnTheFirstLightWithItsValues)
{
    front->falloff = 15.0;
    front->radius = 45.5;
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "Light");
    auto* combo = Find<QComboBox>(*d, "lightCombo");
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->currentText(), "FrontLight1");
    EXPECT_EQ(Edit(*d, "redEdit")->text(), "0.300");
    EXPECT_EQ(Edit(*d, "allEdit")->text(), "0.300");
    EXPECT_EQ(Edit(*d, "falloffEdit")->text(), "15");
    EXPECT_EQ(Edit(*d, "radiusEdit")->text(), "45.5");
    EXPECT_EQ(Bar(*d, "greenSlider")->value(), 300);
    EXPECT_EQ(Bar(*d, "radiusSlider")->value(), 455);
    EXPECT_TRUE(Find<QCheckBox>(*d, "onCheck")->isChecked());
    EXPECT_TRUE(changed.empty());
}

TEST_F(LightSetupDialogTest, SlidersHaveTheRangesOfTheirValues)
{
    auto d = Open();
    for (const char* name : {"redSlider", "greenSlider", "blueSlider", "allSlider"}) {
        EXPECT_EQ(Bar(*d, name)->minimum(), 0);
        EXPECT_EQ(Bar(*d, name)->maximum(), 1000) << name;
    }
    EXPECT_EQ(Bar(*d, "falloffSlider")->maximum(), 128);
    EXPECT_EQ(Bar(*d, "radiusSlider")->maximum(), 900);
}

TEST_F(LightSetupDialogTest, ARedAboveOneIsClampedInTheLightTheEditAndTheBar)
{
    auto d = Open();
    Type(*d, "redEdit", "1.7");
    EXPECT_EQ(front->colour[0], 1.0);
    EXPECT_EQ(Edit(*d, "redEdit")->text(), "1.000");
    EXPECT_EQ(Bar(*d, "redSlider")->value(), 1000);
    EXPECT_EQ(changed, std::vector<int>{0});
}

TEST_F(LightSetupDialogTest, TextWithoutANumberKeepsTheValueAndShowsItAgain)
{
    auto d = Open();
    for (const char* text : {"abc", "", "  ", "-"}) {
        Type(*d, "blueEdit", text);
        EXPECT_EQ(front->colour[2], 0.3) << text;
        EXPECT_EQ(Edit(*d, "blueEdit")->text(), "0.300") << text;
    }
    Type(*d, "blueEdit", " 0.25xyz");
    EXPECT_EQ(front->colour[2], 0.25);
    Type(*d, "blueEdit", "nan");
    EXPECT_EQ(front->colour[2], 0.0);
    Type(*d, "blueEdit", "1e999");
    EXPECT_EQ(front->colour[2], 1.0);
}

TEST_F(LightSetupDialogTest, FallOffIsClampedToItsRange)
{
    auto d = Open();
    Type(*d, "falloffEdit", "200");
    EXPECT_EQ(front->falloff, 128.0);
    EXPECT_EQ(Edit(*d, "falloffEdit")->text(), "128");
    EXPECT_EQ(Bar(*d, "falloffSlider")->value(), 128);
    Type(*d, "falloffEdit", "-3");
    EXPECT_EQ(front->falloff, 0.0);
    EXPECT_EQ(Edit(*d, "falloffEdit")->text(), "0");
    Type(*d, "radiusEdit", "95");
    EXPECT_EQ(front->radius, 90.0);
    EXPECT_EQ(Bar(*d, "radiusSlider")->value(), 900);
}

TEST_F(LightSetupDialogTest, DraggingAllMovesTheColoursTogetherAndStopsEachAtOne)
{
    auto d = Open();
    Find<QComboBox>(*d, "lightCombo")->setCurrentIndex(1);
    EXPECT_EQ(Edit(*d, "allEdit")->text(), "0.500");
    Bar(*d, "allSlider")->setSliderPosition(600);
    EXPECT_EQ(back->colour[0], 1.0);
    EXPECT_DOUBLE_EQ(back->colour[1], 0.375);
    EXPECT_DOUBLE_EQ(back->colour[2], 0.375);
    EXPECT_EQ(Edit(*d, "redEdit")->text(), "1.000");
    EXPECT_EQ(Edit(*d, "greenEdit")->text(), "0.375");
    EXPECT_EQ(Edit(*d, "allEdit")->text(), "0.600");
    EXPECT_DOUBLE_EQ(d->All(), 0.6);
    EXPECT_EQ(Bar(*d, "greenSlider")->value(), 375);
    // All keeps its own value: going back down does not restore the clamped red.
    Bar(*d, "allSlider")->setSliderPosition(500);
    EXPECT_DOUBLE_EQ(back->colour[0], 0.9);
    EXPECT_DOUBLE_EQ(back->colour[1], 0.275);
}

TEST_F(LightSetupDialogTest, TypingIntoAllShiftsEachColourByTheDifference)
{
    auto d = Open();
    Type(*d, "allEdit", "0.1");
    EXPECT_DOUBLE_EQ(front->colour[0], 0.1);
    EXPECT_DOUBLE_EQ(front->colour[2], 0.1);
    EXPECT_EQ(Bar(*d, "allSlider")->value(), 100);
    EXPECT_EQ(Bar(*d, "blueSlider")->value(), 100);
    Type(*d, "allEdit", "-1");
    EXPECT_EQ(front->colour[1], 0.0);
    EXPECT_EQ(Edit(*d, "allEdit")->text(), "0.000");
}

TEST_F(LightSetupDialogTest, ArrowsStepOnePositionAndPageClicksMoveNothing)
{
    front->radius = 45.5;
    auto d = Open();
    QScrollBar* radius = Bar(*d, "radiusSlider");
    radius->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_DOUBLE_EQ(front->radius, 45.6);
    EXPECT_EQ(Edit(*d, "radiusEdit")->text(), "45.6");
    EXPECT_EQ(radius->value(), 456);
    const auto calls = changed.size();
    radius->triggerAction(QAbstractSlider::SliderPageStepAdd);
    radius->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(radius->value(), 456);
    EXPECT_DOUBLE_EQ(front->radius, 45.6);
    EXPECT_EQ(changed.size(), calls);
    QScrollBar* red = Bar(*d, "redSlider");
    red->setValue(0);
    red->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(red->value(), 0);
    EXPECT_EQ(Edit(*d, "redEdit")->text(), "0.000");
}

TEST_F(LightSetupDialogTest, SwitchingTheLightOffDisablesColourAndSpotControls)
{
    auto d = Open();
    auto* on = Find<QCheckBox>(*d, "onCheck");
    auto* spot = Find<QCheckBox>(*d, "spotCheck");
    on->click();
    EXPECT_EQ(front->on, 0);
    EXPECT_EQ(changed, std::vector<int>{0});
    for (const char* name :
         {"redSlider", "greenSlider", "blueSlider", "allSlider", "falloffSlider", "radiusSlider"})
        EXPECT_FALSE(Bar(*d, name)->isEnabled()) << name;
    EXPECT_FALSE(Edit(*d, "allEdit")->isEnabled());
    EXPECT_FALSE(spot->isEnabled());

    front->spot = 0;
    on->click();
    EXPECT_EQ(front->on, 1);
    EXPECT_TRUE(Bar(*d, "redSlider")->isEnabled());
    EXPECT_TRUE(Edit(*d, "allEdit")->isEnabled());
    EXPECT_TRUE(spot->isEnabled());
    EXPECT_FALSE(spot->isChecked());
    EXPECT_FALSE(Bar(*d, "falloffSlider")->isEnabled());
}

TEST_F(LightSetupDialogTest, SwitchingSpotOffDisablesOnlyFallOffAndRadius)
{
    auto d = Open();
    Find<QCheckBox>(*d, "spotCheck")->click();
    EXPECT_EQ(front->spot, 0);
    EXPECT_FALSE(Bar(*d, "falloffSlider")->isEnabled());
    EXPECT_FALSE(Edit(*d, "radiusEdit")->isEnabled());
    EXPECT_TRUE(Bar(*d, "redSlider")->isEnabled());
    EXPECT_TRUE(Edit(*d, "redEdit")->isEnabled());
    EXPECT_EQ(changed, std::vector<int>{0});
}

TEST_F(LightSetupDialogTest, OnlyLightsAreOfferedAndChangesReportTheirListIndex)
{
    polyvant::Obj3d other("Marker", 7); // not a light: the list's deleter leaves it alone
    polyvant::ObjectList mixed(polyvant::DeleteSceneObject);
    mixed.Append(&other);
    Light3d* lamp = MakeLight("Lamp", 0.1, 0.2, 0.3);
    mixed.Append(lamp);
    LightSetupDialog d(&mixed, [this](int index) { changed.push_back(index); });
    auto* combo = Find<QComboBox>(d, "lightCombo");
    ASSERT_EQ(combo->count(), 1);
    EXPECT_EQ(d.CurrentLight(), lamp);
    Type(d, "greenEdit", "0.5");
    EXPECT_EQ(lamp->colour[1], 0.5);
    EXPECT_EQ(changed, std::vector<int>{1});
}

TEST_F(LightSetupDialogTest, ChoosingAnotherLightShowsAndEditsThatLight)
{
    auto d = Open();
    Find<QComboBox>(*d, "lightCombo")->setCurrentIndex(1);
    EXPECT_EQ(d->CurrentLight(), back);
    EXPECT_EQ(Edit(*d, "redEdit")->text(), "0.950");
    Bar(*d, "falloffSlider")->setSliderPosition(40);
    EXPECT_EQ(back->falloff, 40.0);
    EXPECT_EQ(front->falloff, 15.0);
    EXPECT_EQ(changed, std::vector<int>{1});
}

TEST_F(LightSetupDialogTest, WithoutALightTheCommandShowsAMessageAndTheDialogStaysInert)
{
    std::vector<QString> messages;
    auto previous =
        polyvant::SetMessageBoxFunction([&](const QString& text, const QString& caption) {
            messages.push_back(caption + ": " + text);
        });
    polyvant::ObjectList empty(polyvant::DeleteSceneObject);
    EXPECT_FALSE(LightSetupDialog::Run(&empty, {}, nullptr));
    EXPECT_FALSE(LightSetupDialog::Run(nullptr, {}, nullptr));
    polyvant::SetMessageBoxFunction(previous);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Light Setup: No scene to display");

    LightSetupDialog d(nullptr, [this](int index) { changed.push_back(index); });
    EXPECT_EQ(d.CurrentLight(), nullptr);
    EXPECT_FALSE(Find<QCheckBox>(d, "onCheck")->isEnabled());
    EXPECT_FALSE(Bar(d, "redSlider")->isEnabled());
    Type(d, "redEdit", "0.5");
    Bar(d, "redSlider")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_TRUE(changed.empty());
}

TEST_F(LightSetupDialogTest, ClosingWhileAnEditHasTheFocusTakesItsValue)
{
    auto d = Open();
    d->show();
    QApplication::setActiveWindow(d.get());
    QLineEdit* red = Edit(*d, "redEdit");
    red->setFocus();
    if (!red->hasFocus())
        GTEST_SKIP() << "the platform gives no keyboard focus";
    red->setText("0.8");
    Find<QPushButton>(*d, "closeButton")->click();
    EXPECT_EQ(front->colour[0], 0.8);
    EXPECT_EQ(changed, std::vector<int>{0});
}

} // namespace
