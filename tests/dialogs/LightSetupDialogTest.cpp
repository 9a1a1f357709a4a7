#include "dialogs/LightSetupDialog.h"

#include <gtest/gtest.h>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QScrollBar>

#include <polyvant/ObjectList.h>

#include "SceneDialogTestSupport.h"
#include "app/UiServices.h"

using dialogtest::MakeLight;
using polyvant::Light3d;
using Slider = QAbstractSlider;

namespace {

class LightSetupDialogTest : public ::testing::Test {
protected:
    QLineEdit* Edit(const char* name) { return dialog.findChild<QLineEdit*>(name); }
    QScrollBar* Bar(const char* name) { return dialog.findChild<QScrollBar*>(name); }
    QCheckBox* Check(const char* name) { return dialog.findChild<QCheckBox*>(name); }
    // Types text into the edit and moves the focus away from it.
    void Type(const char* edit, const QString& text, LightSetupDialog* d = nullptr)
    {
        QLineEdit* e = (d ? d : &dialog)->findChild<QLineEdit*>(edit);
        e->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(e, &out);
    }
    std::vector<int> changed;
    LightSetupDialog::LightChangedFunction Record()
    {
        return [this](int index) { changed.push_back(index); };
    }

    QApplication& app = dialogtest::Application();
    Light3d* front = MakeLight("FrontLight1", 0.3, 0.3, 0.3);
    Light3d* back = MakeLight("BackLight1", 0.95, 0.275, 0.275);
    polyvant::ObjectList lights{polyvant::DeleteSceneObject};
    bool filled = (lights.Append(front), lights.Append(back), true); // before the dialog
    LightSetupDialog dialog{&lights, Record()};
};

TEST_F(LightSetupDialogTest, OpensOnTheFirstLightWithItsValuesAndTheSliderRanges)
{
    EXPECT_EQ(dialog.windowTitle(), "Light");
    EXPECT_EQ(dialog.findChild<QComboBox*>("lightCombo")->currentText(), "FrontLight1");
    EXPECT_EQ(Edit("redEdit")->text(), "0.300");
    EXPECT_EQ(Edit("allEdit")->text(), "0.300");
    EXPECT_EQ(Edit("radiusEdit")->text(), "50.0");
    EXPECT_EQ(Bar("greenSlider")->value(), 300);
    EXPECT_TRUE(Check("onCheck")->isChecked());
    for (const char* name : {"redSlider", "greenSlider", "blueSlider", "allSlider"})
        EXPECT_EQ(Bar(name)->maximum(), 1000) << name;
    EXPECT_EQ(Bar("falloffSlider")->maximum(), 128);
    EXPECT_EQ(Bar("radiusSlider")->maximum(), 900);
    EXPECT_TRUE(changed.empty());
}

TEST_F(LightSetupDialogTest, TypedValuesAreClampedAndTextWithoutANumberKeepsTheValue)
{
    Type("redEdit", "1.7");
    EXPECT_EQ(front->colour[0], 1.0);
    EXPECT_EQ(Edit("redEdit")->text(), "1.000");
    EXPECT_EQ(Bar("redSlider")->value(), 1000);
    EXPECT_EQ(changed, std::vector<int>{0});
    for (const char* text : {"abc", "", "-"}) {
        Type("blueEdit", text);
        EXPECT_EQ(front->colour[2], 0.3) << text;
        EXPECT_EQ(Edit("blueEdit")->text(), "0.300") << text;
    }
    Type("blueEdit", "nan");
    EXPECT_EQ(front->colour[2], 0.0);
    Type("falloffEdit", "200");
    EXPECT_EQ(front->falloff, 128.0);
    EXPECT_EQ(Bar("falloffSlider")->value(), 128);
    Type("falloffEdit", "-3");
    EXPECT_EQ(Edit("falloffEdit")->text(), "0");
    Type("radiusEdit", "1e999");
    EXPECT_EQ(front->radius, 90.0);
}

TEST_F(LightSetupDialogTest, DraggingAllMovesTheColoursTogetherAndStopsEachAtOne)
{
    dialog.findChild<QComboBox*>("lightCombo")->setCurrentIndex(1);
    EXPECT_EQ(Edit("allEdit")->text(), "0.500");
    Bar("allSlider")->setSliderPosition(600);
    EXPECT_EQ(back->colour[0], 1.0);
    EXPECT_DOUBLE_EQ(back->colour[1], 0.375);
    EXPECT_DOUBLE_EQ(back->colour[2], 0.375);
    EXPECT_EQ(Edit("greenEdit")->text(), "0.375");
    EXPECT_EQ(Edit("allEdit")->text(), "0.600");
    EXPECT_EQ(Bar("greenSlider")->value(), 375);
    EXPECT_EQ(front->colour[0], 0.3);
    // All keeps its own value: going back down does not restore the clamped red.
    Bar("allSlider")->setSliderPosition(500);
    EXPECT_DOUBLE_EQ(back->colour[0], 0.9);
    EXPECT_EQ(changed.front(), 1);
}

TEST_F(LightSetupDialogTest, ArrowsStepOnePositionAndPageClicksMoveNothing)
{
    Type("radiusEdit", "45.5");
    QScrollBar* radius = Bar("radiusSlider");
    radius->triggerAction(Slider::SliderSingleStepAdd);
    EXPECT_DOUBLE_EQ(front->radius, 45.6);
    EXPECT_EQ(Edit("radiusEdit")->text(), "45.6");
    EXPECT_EQ(radius->value(), 456);
    const auto calls = changed.size();
    radius->triggerAction(Slider::SliderPageStepAdd);
    radius->triggerAction(Slider::SliderToMinimum);
    EXPECT_EQ(radius->value(), 456);
    EXPECT_EQ(changed.size(), calls);
}

TEST_F(LightSetupDialogTest, TheOnAndSpotBoxesEnableTheirControls)
{
    Check("onCheck")->click();
    EXPECT_EQ(front->on, 0);
    for (const char* name : {"redSlider", "allSlider", "falloffSlider", "radiusSlider"})
        EXPECT_FALSE(Bar(name)->isEnabled()) << name;
    EXPECT_FALSE(Edit("allEdit")->isEnabled());
    EXPECT_FALSE(Check("spotCheck")->isEnabled());
    front->spot = 0;
    Check("onCheck")->click();
    EXPECT_TRUE(Bar("redSlider")->isEnabled());
    EXPECT_TRUE(Check("spotCheck")->isEnabled());
    EXPECT_FALSE(Bar("falloffSlider")->isEnabled());
    Check("spotCheck")->click();
    EXPECT_EQ(front->spot, 1);
    EXPECT_TRUE(Edit("radiusEdit")->isEnabled());
    Check("spotCheck")->click();
    EXPECT_FALSE(Edit("radiusEdit")->isEnabled());
    EXPECT_TRUE(Edit("redEdit")->isEnabled());
    EXPECT_EQ(changed, std::vector<int>(4, 0));
}

TEST_F(LightSetupDialogTest, OnlyLightsAreOfferedAndChangesReportTheirListIndex)
{
    polyvant::Obj3d other("Marker", 7); // not a light: the list's deleter leaves it alone
    polyvant::ObjectList mixed(polyvant::DeleteSceneObject);
    mixed.Append(&other);
    Light3d* lamp = MakeLight("Lamp", 0.1, 0.2, 0.3);
    mixed.Append(lamp);
    LightSetupDialog d(&mixed, Record());
    EXPECT_EQ(d.findChild<QComboBox*>("lightCombo")->count(), 1);
    Type("greenEdit", "0.5", &d);
    EXPECT_EQ(lamp->colour[1], 0.5);
    EXPECT_EQ(changed, std::vector<int>{1});
}

TEST_F(LightSetupDialogTest, WithoutALightTheCommandShowsAMessageAndTheDialogStaysInert)
{
    std::vector<QString> shown;
    auto previous =
        polyvant::SetMessageBoxFunction([&](const QString& text, const QString& caption) {
            shown.push_back(caption + ": " + text);
        });
    polyvant::ObjectList empty(polyvant::DeleteSceneObject);
    EXPECT_FALSE(LightSetupDialog::Run(&empty, {}, nullptr));
    EXPECT_FALSE(LightSetupDialog::Run(nullptr, {}, nullptr));
    polyvant::SetMessageBoxFunction(previous);
    EXPECT_EQ(shown, std::vector<QString>(2, "Light Setup: No scene to display"));

    LightSetupDialog d(nullptr, Record());
    EXPECT_FALSE(d.findChild<QCheckBox*>("onCheck")->isEnabled());
    Type("redEdit", "0.5", &d);
    d.findChild<QScrollBar*>("redSlider")->triggerAction(Slider::SliderSingleStepAdd);
    EXPECT_TRUE(changed.empty());
}

TEST_F(LightSetupDialogTest, ClosingOrChoosingAnotherLightWhileAnEditHasTheFocusTakesItsValue)
{
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    Edit("redEdit")->setFocus();
    if (!Edit("redEdit")->hasFocus())
        GTEST_SKIP() << "the platform gives no keyboard focus";
    Edit("redEdit")->setText("0.8");
    dialog.findChild<QComboBox*>("lightCombo")->setCurrentIndex(1); // focus stays in the edit
    EXPECT_EQ(front->colour[0], 0.8);
    Edit("redEdit")->setText("0.7");
    dialogtest::Click(dialog, "closeButton");
    EXPECT_EQ(back->colour[0], 0.7);
    EXPECT_EQ(changed, (std::vector<int>{0, 1}));
}

} // namespace
