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

using dialogtest::MakeLight;
using dialogtest::MakeMesh;
using dialogtest::ModalDriver;
using polyvant::Mesh3d;
using polyvant::Obj3d;

// Fontconfig keeps a cache for the life of the process; it is not ours to free.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}

namespace {

class StatisticsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialogtest::Application();
        m_previous =
            polyvant::SetMessageBoxFunction([this](const QString& text, const QString& caption) {
                messages.push_back(caption + QStringLiteral(": ") + text);
            });
    }
    void TearDown() override
    {
        polyvant::SetMessageBoxFunction(m_previous);
        for (Obj3d* object : owned)
            delete object;
    }

    // The scene list has no deleter: the test owns the objects, as importers do.
    Mesh3d* AddMesh(const char* name, std::uint32_t faces)
    {
        Mesh3d* mesh = MakeMesh(name, faces);
        owned.push_back(mesh);
        scene.Append(mesh);
        return mesh;
    }

    static QListWidget* List(StatisticsDialog& d)
    {
        return d.findChild<QListWidget*>("statisticsList");
    }
    static void Click(QDialog& d, const char* name) { d.findChild<QPushButton*>(name)->click(); }

    // Presses Details on the dialog; the details dialog that opens gets newName and OK.
    static bool RenameSelected(StatisticsDialog& d, const QString& newName)
    {
        ModalDriver driver([&](QDialog& details) {
            details.findChild<QLineEdit*>("nameEdit")->setText(newName);
            Click(details, "okButton");
        });
        Click(d, "detailsButton");
        return driver.Ran();
    }

    polyvant::ObjectList scene;
    std::vector<Obj3d*> owned;
    std::vector<QString> messages;

private:
    polyvant::MessageBoxFunction m_previous;
};

std::vector<std::uint32_t> Faces(const Mesh3d& mesh)
{
    return {mesh.faceData, mesh.faceData + mesh.faceCount * polyvant::kFaceWords};
}

TEST_F(StatisticsDialogTest, ListsEachMeshWithItsPositionTypeNameAndCounts)
{
    AddMesh("Box", 12);
    AddMesh("Cone", 30);
    AddMesh("Sphere", 80);
    StatisticsDialog dialog(&scene);
    QListWidget* list = List(dialog);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), "\t1\tMESH\tBox\t12\t14");
    EXPECT_EQ(list->item(1)->text(), "\t2\tMESH\tCone\t30\t32");
    EXPECT_EQ(list->item(2)->text(), "\t3\tMESH\tSphere\t80\t82");
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_TRUE(list->item(0)->isSelected());
    EXPECT_EQ(dialog.windowTitle(), "Polyvant Statistic");
}

TEST_F(StatisticsDialogTest, AnEmptySceneIsRefusedWithAMessage)
{
    EXPECT_EQ(StatisticsDialog::Run(&scene, nullptr), 0);
    EXPECT_EQ(StatisticsDialog::Run(nullptr, nullptr), 0);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Statistics: No meshes to explore");
    StatisticsDialog dialog(&scene);
    EXPECT_EQ(List(dialog)->count(), 0);
    EXPECT_EQ(dialog.windowTitle(), "Statistics");
}

TEST_F(StatisticsDialogTest, RenamingReplacesTheLineInPlaceAndTheSceneObjectsName)
{
    AddMesh("Box", 1);
    Mesh3d* cone = AddMesh("Cone", 2);
    AddMesh("Sphere", 3);
    StatisticsDialog dialog(&scene);
    List(dialog)->setCurrentRow(1);
    ASSERT_TRUE(RenameSelected(dialog, "Lid"));
    EXPECT_STREQ(cone->GetName(), "Lid");
    EXPECT_EQ(List(dialog)->item(1)->text(), "\t2\tMESH\tLid\t2\t4");
    EXPECT_EQ(List(dialog)->count(), 3);
    StatisticsDialog again(&scene);
    EXPECT_EQ(List(again)->item(1)->text(), "\t2\tMESH\tLid\t2\t4");
}

TEST_F(StatisticsDialogTest, DetailsDoesNothingAfterARenameUntilALineIsChosen)
{
    Mesh3d* box = AddMesh("Box", 1);
    StatisticsDialog dialog(&scene);
    ASSERT_TRUE(RenameSelected(dialog, "Lid"));
    EXPECT_FALSE(RenameSelected(dialog, "Other"));
    EXPECT_STREQ(box->GetName(), "Lid");
    List(dialog)->setCurrentRow(0);
    EXPECT_TRUE(RenameSelected(dialog, "Other"));
    EXPECT_STREQ(box->GetName(), "Other");
}

TEST_F(StatisticsDialogTest, LinesActOnTheirOwnObjectWhenALightComesFirst)
{
    std::unique_ptr<Obj3d> light(MakeLight("Lamp", 1, 1, 1));
    scene.Append(light.get());
    Mesh3d* first = AddMesh("First", 2);
    Mesh3d* second = AddMesh("Second", 2);
    const auto secondFaces = Faces(*second);

    StatisticsDialog dialog(&scene);
    ASSERT_EQ(List(dialog)->count(), 2);
    EXPECT_EQ(List(dialog)->item(0)->text(), "\t2\tMESH\tFirst\t2\t4");
    List(dialog)->setCurrentRow(1);
    ASSERT_TRUE(RenameSelected(dialog, "Renamed"));
    EXPECT_STREQ(second->GetName(), "Renamed");
    EXPECT_STREQ(first->GetName(), "First");
    EXPECT_STREQ(light->GetName(), "Lamp");

    List(dialog)->setCurrentRow(0);
    Click(dialog, "flipButton");
    EXPECT_EQ(first->faceData[1], 2u);
    EXPECT_EQ(Faces(*second), secondFaces);
}

TEST_F(StatisticsDialogTest, OkTakesTheTypedNameWhileTheEditStillHasTheFocus)
{
    Mesh3d* box = AddMesh("Box", 1);
    StatisticsDialog dialog(&scene);
    ModalDriver driver([](QDialog& details) {
        auto* edit = details.findChild<QLineEdit*>("nameEdit");
        edit->setFocus();
        edit->setText("Typed");
        Click(details, "okButton");
    });
    Click(dialog, "detailsButton");
    EXPECT_STREQ(box->GetName(), "Typed");
}

TEST_F(StatisticsDialogTest, EnterInTheDetailsClosesWithCancelAndKeepsTheName)
{
    Mesh3d* box = AddMesh("Box", 1);
    StatisticsDialog dialog(&scene);
    ModalDriver driver([](QDialog& details) {
        auto* edit = details.findChild<QLineEdit*>("nameEdit");
        edit->setText("Lid");
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(edit, &press);
        EXPECT_FALSE(details.isVisible());
        EXPECT_EQ(details.result(), QDialog::Rejected);
    });
    Click(dialog, "detailsButton");
    EXPECT_TRUE(driver.Ran());
    EXPECT_STREQ(box->GetName(), "Box");
    EXPECT_EQ(List(dialog)->item(0)->text(), "\t1\tMESH\tBox\t1\t3");
}

TEST_F(StatisticsDialogTest, NamesAreKeptAsTypedWhateverTheirLengthAndCharacters)
{
    Mesh3d* box = AddMesh("Box", 1);
    const QString typed = QStringLiteral("50%s Würfel 立方体 ") + QString(3000, QLatin1Char('x'));
    StatisticsDialog dialog(&scene);
    ASSERT_TRUE(RenameSelected(dialog, typed));
    EXPECT_EQ(std::string(box->GetName()), typed.toUtf8().toStdString());
    EXPECT_TRUE(List(dialog)->item(0)->text().contains(typed));
}

TEST_F(StatisticsDialogTest, AnUntouchedNameThatIsNotUtf8KeepsItsBytesOnOk)
{
    const char latin1[] = "Gel\xE4nder";
    Mesh3d* rail = AddMesh(latin1, 1);
    StatisticsDialog dialog(&scene);
    ModalDriver driver([](QDialog& details) { Click(details, "okButton"); });
    Click(dialog, "detailsButton");
    ASSERT_TRUE(driver.Ran());
    EXPECT_STREQ(rail->GetName(), latin1);
}

TEST_F(StatisticsDialogTest, DetailsShowTheBoxWithThreeDecimalsAndTheCounts)
{
    Mesh3d* box = AddMesh("Box", 5);
    const double min[3] = {-1.5, -2.25, -3.0};
    const double max[3] = {2.0, 4.0625, 6.5};
    std::copy(min, min + 3, box->min);
    std::copy(max, max + 3, box->max);
    StatisticsDialog dialog(&scene);
    std::vector<QString> shown;
    ModalDriver driver([&](QDialog& details) {
        for (const char* name : {"typeEdit", "facesEdit", "verticesEdit", "minXEdit", "minYEdit",
                                 "minZEdit", "maxXEdit", "maxYEdit", "maxZEdit"})
            shown.push_back(details.findChild<QLineEdit*>(name)->text());
        EXPECT_EQ(details.windowTitle(), "Polyvant Detailed Statistics");
    });
    Click(dialog, "detailsButton");
    const std::vector<QString> expected = {"MESH",   "5",     "7",     "-1.500", "-2.250",
                                           "-3.000", "2.000", "4.062", "6.500"};
    EXPECT_EQ(shown, expected);
}

TEST_F(StatisticsDialogTest, FlipSwapsTheSecondAndThirdCornerAndASecondFlipRestores)
{
    Mesh3d* box = AddMesh("Box", 3);
    Mesh3d* cone = AddMesh("Cone", 3);
    const auto original = Faces(*cone);
    {
        StatisticsDialog dialog(&scene);
        List(dialog)->setCurrentRow(1);
        Click(dialog, "flipButton");
        EXPECT_EQ(dialog.result(), StatisticsDialog::kFlipResult);
        EXPECT_TRUE(dialog.findChild<QPushButton*>("flipButton")->isVisibleTo(&dialog));
    }
    for (std::uint32_t i = 0; i < cone->faceCount; ++i) {
        const std::uint32_t* face = cone->faceData + i * polyvant::kFaceWords;
        EXPECT_EQ(face[0], i);
        EXPECT_EQ(face[1], i + 2);
        EXPECT_EQ(face[2], i + 1);
        EXPECT_EQ(face[3], 1000 + i);
    }
    EXPECT_EQ(box->faceData[1], 1u);
    StatisticsDialog dialog(&scene);
    List(dialog)->setCurrentRow(1);
    Click(dialog, "flipButton");
    EXPECT_EQ(Faces(*cone), original);
}

TEST_F(StatisticsDialogTest, FlipWithoutASelectionChangesNoFacesButStillAsksForARebuild)
{
    Mesh3d* box = AddMesh("Box", 2);
    const auto original = Faces(*box);
    StatisticsDialog dialog(&scene);
    List(dialog)->clearSelection();
    Click(dialog, "flipButton");
    EXPECT_EQ(dialog.result(), StatisticsDialog::kFlipResult);
    EXPECT_EQ(Faces(*box), original);
}

} // namespace
