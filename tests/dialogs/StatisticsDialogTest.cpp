#include "dialogs/StatisticsDialog.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <polyvant/ObjectList.h>

#include "SceneDialogTestSupport.h"
#include "app/UiServices.h"

using dialogtest::Click;
using dialogtest::MakeMesh;
using dialogtest::ModalDriver;
using polyvant::Mesh3d;

// Fontconfig keeps a cache for the life of the process; it is not ours to free.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}

namespace {

class StatisticsDialogTest : public ::testing::Test {
protected:
    // The scene list has no deleter: the test owns the meshes, as importers do.
    Mesh3d* AddMesh(const char* name, std::uint32_t faces)
    {
        owned.emplace_back(MakeMesh(name, faces));
        scene.Append(owned.back().get());
        return static_cast<Mesh3d*>(owned.back().get());
    }
    static QListWidget* List(QDialog& d) { return d.findChild<QListWidget*>("statisticsList"); }

    // Presses Details; the details dialog that opens gets `action` (then Cancel).
    static bool OnDetails(QDialog& d, const std::function<void(QDialog&)>& action)
    {
        ModalDriver driver(action);
        Click(d, "detailsButton");
        return driver.Ran();
    }
    static bool Rename(QDialog& d, const QString& name)
    {
        return OnDetails(d, [&](QDialog& details) {
            details.findChild<QLineEdit*>("nameEdit")->setText(name);
            Click(details, "okButton");
        });
    }
    static std::vector<std::uint32_t> Faces(const Mesh3d& m)
    {
        return {m.faceData, m.faceData + m.faceCount * polyvant::kFaceWords};
    }

    QApplication& app = dialogtest::Application();
    polyvant::ObjectList scene;
    std::vector<std::unique_ptr<polyvant::Obj3d>> owned;
};

TEST_F(StatisticsDialogTest, ListsEachMeshWithPositionTypeNameAndCountsFirstLineSelected)
{
    AddMesh("Box", 12);
    AddMesh("Cone", 30);
    StatisticsDialog dialog(&scene);
    ASSERT_EQ(List(dialog)->count(), 2);
    EXPECT_EQ(List(dialog)->item(0)->text(), "\t1\tMESH\tBox\t12\t14");
    EXPECT_EQ(List(dialog)->item(1)->text(), "\t2\tMESH\tCone\t30\t32");
    EXPECT_TRUE(List(dialog)->item(0)->isSelected());
    EXPECT_EQ(dialog.windowTitle(), "Polyvant Statistic");
}

TEST_F(StatisticsDialogTest, AnEmptySceneIsRefusedWithAMessage)
{
    std::vector<QString> shown;
    auto previous =
        polyvant::SetMessageBoxFunction([&](const QString& text, const QString& caption) {
            shown.push_back(caption + ": " + text);
        });
    EXPECT_EQ(StatisticsDialog::Run(&scene, nullptr), 0);
    EXPECT_EQ(StatisticsDialog::Run(nullptr, nullptr), 0);
    polyvant::SetMessageBoxFunction(previous);
    EXPECT_EQ(shown, std::vector<QString>(2, "Statistics: No meshes to explore"));
}

TEST_F(StatisticsDialogTest, RenameReplacesTheLineInPlaceThenDetailsWaitsForANewChoice)
{
    Mesh3d* box = AddMesh("Box", 1);
    Mesh3d* cone = AddMesh("Cone", 2);
    StatisticsDialog dialog(&scene);
    List(dialog)->setCurrentRow(1);
    ASSERT_TRUE(Rename(dialog, "Lid"));
    EXPECT_STREQ(cone->GetName(), "Lid");
    EXPECT_EQ(List(dialog)->item(1)->text(), "\t2\tMESH\tLid\t2\t4");
    EXPECT_FALSE(Rename(dialog, "Other"));
    List(dialog)->setCurrentRow(0);
    EXPECT_TRUE(Rename(dialog, "Other"));
    EXPECT_STREQ(box->GetName(), "Other");
}

TEST_F(StatisticsDialogTest, LinesActOnTheirOwnObjectWhenALightComesFirst)
{
    owned.emplace_back(dialogtest::MakeLight("Lamp", 1, 1, 1));
    scene.Append(owned.back().get());
    Mesh3d* first = AddMesh("First", 2);
    Mesh3d* second = AddMesh("Second", 2);
    const auto secondFaces = Faces(*second);
    StatisticsDialog dialog(&scene);
    ASSERT_EQ(List(dialog)->count(), 2);
    EXPECT_EQ(List(dialog)->item(0)->text(), "\t2\tMESH\tFirst\t2\t4");
    List(dialog)->setCurrentRow(1);
    ASSERT_TRUE(Rename(dialog, "Renamed"));
    EXPECT_STREQ(second->GetName(), "Renamed");
    EXPECT_STREQ(owned[0]->GetName(), "Lamp");
    List(dialog)->setCurrentRow(0);
    Click(dialog, "flipButton");
    EXPECT_EQ(first->faceData[1], 2u);
    EXPECT_EQ(Faces(*second), secondFaces);
}

TEST_F(StatisticsDialogTest, OkTakesTheTypedNameEvenWithTheFocusInTheEditWhileEnterCancels)
{
    Mesh3d* box = AddMesh("Box", 1);
    StatisticsDialog dialog(&scene);
    auto typeThen = [&](Qt::Key key) {
        return OnDetails(dialog, [key](QDialog& details) {
            auto* edit = details.findChild<QLineEdit*>("nameEdit");
            edit->setFocus();
            edit->setText(key == Qt::Key_Return ? "Entered" : "Typed");
            if (key != Qt::Key_Return)
                return Click(details, "okButton");
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(edit, &press);
            EXPECT_FALSE(details.isVisible());
        });
    };
    ASSERT_TRUE(typeThen(Qt::Key_Return));
    EXPECT_STREQ(box->GetName(), "Box");
    EXPECT_EQ(List(dialog)->item(0)->text(), "\t1\tMESH\tBox\t1\t3");
    ASSERT_TRUE(typeThen(Qt::Key_unknown));
    EXPECT_STREQ(box->GetName(), "Typed");
}

TEST_F(StatisticsDialogTest, NamesAreKeptAsGivenWhateverTheirLengthAndBytes)
{
    Mesh3d* box = AddMesh("Box", 1);
    const char latin1[] = "Gel\xE4nder";
    Mesh3d* rail = AddMesh(latin1, 1);
    const QString typed = QStringLiteral("50%s Würfel 立方体 ") + QString(3000, QLatin1Char('x'));
    StatisticsDialog dialog(&scene);
    ASSERT_TRUE(Rename(dialog, typed));
    EXPECT_EQ(std::string(box->GetName()), typed.toUtf8().toStdString());
    EXPECT_TRUE(List(dialog)->item(0)->text().contains(typed));
    // OK on a name the user did not touch must not re-encode it.
    List(dialog)->setCurrentRow(1);
    ASSERT_TRUE(OnDetails(dialog, [](QDialog& details) { Click(details, "okButton"); }));
    EXPECT_STREQ(rail->GetName(), latin1);
}

TEST_F(StatisticsDialogTest, DetailsShowTheBoxWithThreeDecimalsAndTheCounts)
{
    Mesh3d* box = AddMesh("Box", 5);
    const double min[3] = {-1.5, -2.25, -3.0}, max[3] = {2.0, 4.0625, 6.5};
    std::copy(min, min + 3, box->min);
    std::copy(max, max + 3, box->max);
    StatisticsDialog dialog(&scene);
    std::vector<QString> shown;
    OnDetails(dialog, [&](QDialog& details) {
        for (const char* name : {"typeEdit", "facesEdit", "verticesEdit", "minXEdit", "minYEdit",
                                 "minZEdit", "maxXEdit", "maxYEdit", "maxZEdit"})
            shown.push_back(details.findChild<QLineEdit*>(name)->text());
    });
    const std::vector<QString> expected = {"MESH",   "5",     "7",     "-1.500", "-2.250",
                                           "-3.000", "2.000", "4.062", "6.500"};
    EXPECT_EQ(shown, expected);
}

TEST_F(StatisticsDialogTest, FlipSwapsTheSecondAndThirdCornerAndASecondFlipRestores)
{
    AddMesh("Box", 3);
    Mesh3d* cone = AddMesh("Cone", 3);
    const auto original = Faces(*cone);
    auto flipLine = [&](int line) {
        StatisticsDialog dialog(&scene);
        dialog.show();
        EXPECT_FALSE(dialog.findChild<QAbstractButton*>("flipButton")->isVisible());
        List(dialog)->setCurrentRow(line);
        if (line < 0)
            List(dialog)->clearSelection();
        Click(dialog, "flipButton");
        return dialog.result();
    };
    EXPECT_EQ(flipLine(1), StatisticsDialog::kFlipResult);
    for (std::uint32_t i = 0; i < cone->faceCount; ++i) {
        const std::uint32_t* face = cone->faceData + i * polyvant::kFaceWords;
        EXPECT_EQ((std::vector<std::uint32_t>(face, face + 4)),
                  (std::vector<std::uint32_t>{i, i + 2, i + 1, 1000 + i}));
    }
    flipLine(1);
    EXPECT_EQ(Faces(*cone), original);
    // Without a selection nothing flips, but the caller is still asked to rebuild.
    EXPECT_EQ(flipLine(-1), StatisticsDialog::kFlipResult);
    EXPECT_EQ(Faces(*cone), original);
}

} // namespace
