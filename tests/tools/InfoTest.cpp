#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ToolRunner.h"

namespace polyvant::tooltest {
namespace {

class InfoTest : public ::testing::Test {
protected:
    QJsonObject Json(const std::vector<std::string>& files, int expectedStatus)
    {
        std::vector<std::string> args = {"--json"};
        args.insert(args.end(), files.begin(), files.end());
        const Outcome outcome = RunProgram(InfoProgram(), args, dir.Path(),
                                           {"XDG_CONFIG_HOME=" + (dir / "config").string()});
        EXPECT_EQ(outcome.status, expectedStatus) << outcome.err;
        QJsonParseError error{};
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromStdString(outcome.out), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << outcome.out;
        return document.object();
    }

    TempDir dir;
};

TEST_F(InfoTest, FromAnExtensionTakesTheClassTheViewerWould)
{
    // Imagine lists *.obj as well, and comes first.
    const Outcome outcome =
        RunProgram(InfoProgram(), {"--from", "obj", "--json", Sample("obj/box.obj")}, dir.Path(),
                   {"XDG_CONFIG_HOME=" + (dir / "config").string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const QJsonObject file = QJsonDocument::fromJson(QByteArray::fromStdString(outcome.out))
                                 .object()["files"]
                                 .toArray()
                                 .at(0)
                                 .toObject();
    EXPECT_EQ(file["class"].toString(), "WaveFront (*.obj)");
}

TEST_F(InfoTest, JsonGivesCountsBoundsAndTimeOfEveryObject)
{
    const QJsonObject root = Json({Sample("obj/WusonOBJ.obj"), Sample("stl/Wuson.stl")}, 0);
    const QJsonArray files = root["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    for (const QJsonValue value : files) {
        const QJsonObject file = value.toObject();
        EXPECT_TRUE(file["imported"].toBool());
        EXPECT_GE(file["importSeconds"].toDouble(-1), 0.0);
        int faces = 0;
        for (const QJsonValue object : file["objects"].toArray()) {
            const QJsonObject mesh = object.toObject();
            faces += mesh["faces"].toInt();
            const QJsonArray min = mesh["min"].toArray(), max = mesh["max"].toArray();
            ASSERT_EQ(min.size(), 3);
            for (int k = 0; k < 3; ++k)
                EXPECT_LT(min[k].toDouble(), max[k].toDouble());
            EXPECT_TRUE(mesh.contains("boundaryEdges"));
        }
        EXPECT_EQ(faces, 3732);
    }
    EXPECT_EQ(files[0].toObject()["class"].toString(), "WaveFront (*.obj)");
}

TEST_F(InfoTest, CountsDegenerateDuplicateBoundaryAndNonManifoldFaces)
{
    // Faces A (1 2 3), B (2 4 3) and C (3 2 5) share the edge 2-3: one non-manifold edge.
    // A again is a duplicate; D (1 2 7) has no area. Every other edge has one face.
    WriteFile(dir / "mesh.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 0 0 1\nv 9 9 9\nv 2 0 0\n"
                                "f 1 2 3\nf 2 4 3\nf 3 2 5\nf 1 2 3\nf 1 2 7\n");
    const QJsonObject root = Json({(dir / "mesh.obj").string()}, 0);
    const QJsonObject mesh =
        root["files"].toArray()[0].toObject()["objects"].toArray()[0].toObject();
    EXPECT_EQ(mesh["faces"].toInt(), 5);
    EXPECT_EQ(mesh["weldedVertices"].toInt(), 6);
    EXPECT_EQ(mesh["duplicateFaces"].toInt(), 1);
    EXPECT_EQ(mesh["degenerateFaces"].toInt(), 1);
    EXPECT_EQ(mesh["nonManifoldEdges"].toInt(), 1);
    EXPECT_EQ(mesh["boundaryEdges"].toInt(), 7);
}

TEST_F(InfoTest, ClosedModelHasNoBoundaryEdges)
{
    // A tetrahedron.
    WriteFile(dir / "tetra.off", "OFF\n4 4 0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n"
                                 "3 0 2 1\n3 0 1 3\n3 1 2 3\n3 0 3 2\n");
    const QJsonObject mesh = Json({(dir / "tetra.off").string()}, 0)["files"]
                                 .toArray()[0]
                                 .toObject()["objects"]
                                 .toArray()[0]
                                 .toObject();
    EXPECT_EQ(mesh["boundaryEdges"].toInt(-1), 0);
    EXPECT_EQ(mesh["nonManifoldEdges"].toInt(-1), 0);
    EXPECT_EQ(mesh["degenerateFaces"].toInt(-1), 0);
}

TEST_F(InfoTest, BadFileIsReportedInTheJsonAndTheStatus)
{
    WriteFile(dir / "bad \"name\".obj", "v 0 0 0\nf 1 2 3\n");
    WriteFile(dir / "unknown.xyz", "");
    const QJsonObject root =
        Json({(dir / "bad \"name\".obj").string(), (dir / "unknown.xyz").string()}, 1);
    const QJsonArray files = root["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    for (const QJsonValue value : files) {
        const QJsonObject file = value.toObject();
        EXPECT_FALSE(file["imported"].toBool());
        bool error = false;
        for (const QJsonValue message : file["messages"].toArray())
            error = error || message.toObject()["severity"].toString() == "error";
        EXPECT_TRUE(error);
    }
    EXPECT_TRUE(files[0].toObject()["file"].toString().endsWith("bad \"name\".obj"));
}

TEST_F(InfoTest, TextReportCountsInTheRightNumberAndNamesWhatIsNotAFile)
{
    WriteFile(dir / "one.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    std::filesystem::create_directory(dir / "folder");
    const Outcome outcome = RunProgram(InfoProgram(), {"one.obj", "folder"}, dir.Path(),
                                       {"XDG_CONFIG_HOME=" + (dir / "config").string()});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("\"WaveFront (*.obj)\", 1 object, 1 face, 3 vertices,"),
              std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.out.find("3 welded vertices, 0 degenerate faces, 0 duplicate faces, "
                               "3 boundary edges, 0 non-manifold edges"),
              std::string::npos)
        << outcome.out;
    // Not "extension not recognized": the name has none, but that is not the problem.
    EXPECT_NE(outcome.err.find("folder: not a regular file"), std::string::npos) << outcome.err;
}

} // namespace
} // namespace polyvant::tooltest
