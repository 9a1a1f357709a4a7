#include "obj/ObjReader.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/PluginSupport.h"

namespace polyvant::formats::obj {
namespace {

using test::HostRecorder;
using Meshes = std::vector<std::unique_ptr<Mesh3d>>;

class ObjReaderTest : public testing::Test {
protected:
    // Reads `text` from a buffer of exactly its size (so ASan catches overreads);
    // the error message, or "" on success.
    std::string Read(const std::string& text, Meshes& meshes, const std::string& base = "m")
    {
        const std::string path = base + ".obj";
        return test::ReadExactly(text, meshes, [&](const char* data, std::size_t size) {
            ReadObj(data, size, path, base, meshes, nullptr);
        });
    }
    Meshes ReadOk(const std::string& text, const std::string& base = "m")
    {
        Meshes meshes;
        EXPECT_EQ(Read(text, meshes, base), "");
        return meshes;
    }
    Meshes ReadFile(const std::string& relative)
    {
        return ReadOk(test::ReadBytes(test::TestData(relative)), BaseNameOf(relative));
    }

    HostRecorder host;
};

const char kSquare[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3\nf 1 3 4\n";

struct SampleFile {
    const char* file;
    std::size_t meshes, vertices, triangles;
    const char* firstName;
};

// Expected values counted independently from the files (a short script over the v/f/o/g
// statements, fan count n - 2 per polygon, vertices counted per object as used).
// Assimp 5.2 (`assimp info`) agrees on WusonOBJ, groups, polygonfaces, concave_polygon,
// horse_quad, two_objects and cube-vertexcol. It differs on cornell_box (48 vertices: it
// merges equal positions, ours keeps the file's 72 vertices, both are right) and on
// spider (23 meshes, 1340 faces: it counts `l` polylines as meshes and faces; the file's
// `f` statements make 1368 triangles in 19 groups, which is what we read).
const SampleFile kSamples[] = {
    {"WusonOBJ.obj", 1, 2117, 3732, "default"},
    {"box.obj", 1, 8, 12, "1"},
    {"box_without_lineending.obj", 1, 8, 12, "1"},
    {"concave_polygon.obj", 1, 64, 64, "default"},
    {"cornell_box.obj", 8, 72, 36, "floor"},
    {"cube-vertexcol.obj", 6, 24, 12, "front cube"},
    {"cube_mtllib_after_g.obj", 1, 8, 12, "Object"},
    {"cube_usemtl.obj", 1, 8, 12, "cube"},
    {"fandisk.obj", 1, 2877, 5750, "fandisk"},
    {"groups.obj", 15, 1418, 2308, "mmGroup1"},
    {"horse_quad.obj", 1, 2400, 4796, "horse_quad"},
    {"issue-138.obj", 2, 12, 12, "test1"},
    {"negative_indices.obj", 1, 8, 12, "negative_indices"},
    {"obj_empty.obj", 0, 0, 0, ""},
    {"obj_with_no_face_in_chunk.obj", 1, 3, 1, "group2"},
    {"polygonfaces.obj", 1, 5, 3, "textureSurface"},
    {"spider.obj", 19, 762, 1368, "HLeib01"},
    {"spot.obj", 1, 2930, 5856, "spot"},
    {"teapot.obj", 1, 3644, 6320, "teapot"},
    {"testmixed.obj", 1, 8, 12, "testmixed"},
    {"two_objects.obj", 2, 12, 16, "cube"},
};

TEST_F(ObjReaderTest, SampleFilesGiveTheirObjectsVerticesAndTriangles)
{
    for (const SampleFile& s : kSamples) {
        SCOPED_TRACE(s.file);
        Meshes meshes = ReadFile(std::string("obj/") + s.file);
        ASSERT_EQ(meshes.size(), s.meshes);
        std::size_t vertices = 0, triangles = 0;
        for (const auto& m : meshes)
            vertices += m->vertexCount, triangles += m->faceCount;
        EXPECT_EQ(vertices, s.vertices);
        EXPECT_EQ(triangles, s.triangles);
        if (s.meshes) {
            EXPECT_STREQ(meshes[0]->name, s.firstName);
        }
    }
}

TEST_F(ObjReaderTest, WusonHasTheBoundsWrittenInItsFile)
{
    Meshes meshes = ReadFile("obj/WusonOBJ.obj");
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(test::DistinctPositions(*meshes[0]), 2117u);
    const double lo[] = {-0.459976, -0.000566, -1.622242}, hi[] = {0.459976, 1.515251, 1.622242};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(meshes[0]->min[k], lo[k]);
        EXPECT_EQ(meshes[0]->max[k], hi[k]);
    }
}

TEST_F(ObjReaderTest, NegativeIndicesCountBackFromTheLastVertex)
{
    Meshes relative = ReadOk("v 0 0 0\nv 1 0 0\nv 1 1 0\nf -3 -2 -1\nv 0 1 0\nf -4 -2 -1\n");
    Meshes absolute = ReadOk("v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\nv 0 1 0\nf 1 3 4\n");
    test::ExpectSameMeshes({relative[0].get()}, {absolute[0].get()});
}

TEST_F(ObjReaderTest, SkipsFacesWithBadIndicesAndWarnsWithTheFirstLine)
{
    const char* bad[] = {"0", "5", "-5", "2147483648", "4294967296", "99999999999999999999",
                         "x", "/1"};
    for (const char* index : bad) {
        SCOPED_TRACE(index);
        host.Clear();
        Meshes meshes = ReadOk(std::string(kSquare) + "f 1 2 " + index + "\nf 2 3 4\n");
        ASSERT_EQ(meshes.size(), 1u);
        EXPECT_EQ(meshes[0]->faceCount, 3u);
        const auto warnings = host.Texts(PV_WARNING);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0].rfind("m.obj: line 7: ", 0), 0u) << warnings[0];
        EXPECT_NE(warnings[0].find("skipped 1 face"), std::string::npos) << warnings[0];
    }
}

TEST_F(ObjReaderTest, SkipsFacesWithFewerThanThreeCorners)
{
    Meshes meshes = ReadOk(std::string(kSquare) + "f\nf 1\nf 1 2\n");
    EXPECT_EQ(meshes[0]->faceCount, 2u);
    EXPECT_NE(host.AllText().find("skipped 3 faces"), std::string::npos) << host.AllText();
}

TEST_F(ObjReaderTest, RefusesBadCoordinatesNamingTheLine)
{
    const char* bad[] = {"nan", "inf", "-inf", "1e309", "1e31", "1.0abc", "", "1,5", "--1"};
    for (const char* number : bad) {
        SCOPED_TRACE(number);
        Meshes meshes;
        const std::string error = Read(std::string("v 0 0 0\n\nv 1 ") + number + " 0\n", meshes);
        EXPECT_EQ(error.rfind("m.obj: line 3: vertex", 0), 0u) << error;
        EXPECT_TRUE(meshes.empty());
    }
    Meshes meshes;
    const std::string digits = "v 1 " + std::string(4 << 20, '7') + " 0\n";
    EXPECT_EQ(Read(digits, meshes).rfind("m.obj: line 1: ", 0), 0u);
}

TEST_F(ObjReaderTest, LineEndsBlanksCommentsAndLongLinesDoNotMatter)
{
    Meshes plain = ReadOk(kSquare);
    std::string crlf;
    for (char c : std::string(kSquare))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string noFinalNewline(kSquare, sizeof kSquare - 2);
    const std::string tabs = "v\t0\t0 0\nv 1  0\t 0 \nv 1 1 0\n  v 0 1 0\nf\t1 2 3\nf 1 3 4\t\n";
    const std::string comments =
        "# head\n\n" + std::string("# ") + std::string(1 << 20, 'c') + "\n" + kSquare + "# tail";
    const std::string extras =
        "mtllib /dev/zero\nv 0 0 0 1\nv 1 0 0 1 0 0\nvt 0 0\nvn 0 0 1\nv 1 1 0\nv 0 1 0\n"
        "s 1\nl 1 2\np 3\nf 1/1/1 2//1 3/1\nf 1 3 4\n";
    const std::string trailingComments =
        "v 0 0 0 # origin\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 # first\nf 1 3 4\t#second\n";
    for (const std::string& text :
         {crlf, noFinalNewline, tabs, comments, extras, trailingComments}) {
        Meshes other = ReadOk(text);
        ASSERT_EQ(other.size(), 1u);
        test::ExpectSameMeshes({plain[0].get()}, {other[0].get()});
    }
}

TEST_F(ObjReaderTest, ABackslashCarriesAStatementOnToTheNextLine)
{
    Meshes plain = ReadOk(kSquare);
    const std::string continued[] = {
        "v 0 0 0\nv 1 \\\n0 0\nv 1 1 0\nv 0 1 0\nf 1 \\\n 2 \\\n3\nf 1 3 4\n",
        // Blanks and CR after the backslash; a backslash on the last line ends nothing.
        "v 0 0 0\r\nv 1 0 0 \\ \r\n\r\nv 1 1 0\nv 0 1 0\nf 1 2 3\nf 1 3 4 \\",
        // A comment does not go on; the next line is read as it stands.
        "# a comment \\\n" + std::string(kSquare),
    };
    for (const std::string& text : continued) {
        SCOPED_TRACE(text);
        Meshes other = ReadOk(text);
        ASSERT_EQ(other.size(), 1u);
        test::ExpectSameMeshes({plain[0].get()}, {other[0].get()});
    }
    // The second case joins "v 1 0 0" with an empty line: nothing lost, nothing added.

    // A fault in a continued statement names the line it starts on.
    Meshes meshes;
    EXPECT_EQ(Read("v 0 0 0\nv 1 \\\n x 0\n", meshes).rfind("m.obj: line 2: vertex", 0), 0u)
        << Read("v 0 0 0\nv 1 \\\n x 0\n", meshes);

    // A group name may be continued too.
    meshes = ReadOk("g left \\\n right\n" + std::string(kSquare));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_STREQ(meshes[0]->name, "left right");
}

TEST_F(ObjReaderTest, ObjectsAndGroupsBecomeNamedMeshesWithTheirOwnVertices)
{
    Meshes meshes =
        ReadOk("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 5 5 5\nv 6 5 5\nv 5 6 5\n"
               "o first\ng renamed before faces # a comment\nf 1 2 3\n"
               "g second#2\nusemtl red\nf 4 5 6\nusemtl blue\nf 6 5 4\nusemtl red # again\n"
               "f 4 6 5\ng #\nf 1 2 3\n");
    ASSERT_EQ(meshes.size(), 3u);
    EXPECT_STREQ(meshes[0]->name, "renamed before faces");
    EXPECT_STREQ(meshes[1]->name, "second#2");
    EXPECT_STREQ(meshes[2]->name, "m"); // a group without a name takes the file's
    ASSERT_EQ(meshes[1]->vertexCount, 3u);
    EXPECT_EQ(meshes[1]->min[0], 5.0);
    EXPECT_EQ(meshes[1]->faceData[0], 0u);
    // Word 3 numbers the materials in order of first use.
    EXPECT_EQ(meshes[0]->faceData[3], 0u);
    EXPECT_EQ(meshes[1]->faceData[3], 1u);
    EXPECT_EQ(meshes[1]->faceData[7], 2u);
    EXPECT_EQ(meshes[1]->faceData[11], 1u);
}

TEST_F(ObjReaderTest, DropsVerticesNoFaceUses)
{
    Meshes meshes = ReadOk("v 9 9 9\nv 0 0 0\nv 1 0 0\nv -9 -9 -9\nv 0 1 0\nf 2 3 5\n");
    ASSERT_EQ(meshes[0]->vertexCount, 3u);
    EXPECT_EQ(meshes[0]->max[0], 1.0);
    EXPECT_EQ(meshes[0]->faceData[2], 2u);
}

TEST_F(ObjReaderTest, RefusesAnImagineObjectNamingItsImportClass)
{
    std::string iff =
        std::string("FORM") + std::string("\0\0\0\x20", 4) + "TDDD" + std::string(0x18, '\0');
    Meshes meshes;
    const std::string error = Read(iff, meshes);
    EXPECT_NE(error.find("\"Imagine (*.obj, *.iob)\""), std::string::npos) << error;
    EXPECT_EQ(error.rfind("m.obj: ", 0), 0u);
}

TEST_F(ObjReaderTest, RefusesBinaryDataAndWarnsAboutCommandsItDoesNotRun)
{
    Meshes meshes;
    EXPECT_EQ(Read(std::string("v 0 0 0\n\x7f"
                               "ELF\x02\x01\x01\n"),
                   meshes)
                  .rfind("m.obj: line 2: ", 0),
              0u);
    Meshes ok = ReadOk(std::string(kSquare) + "call other.obj\ncsh rm -rf /\n");
    EXPECT_EQ(ok[0]->faceCount, 2u);
    EXPECT_NE(host.AllText().find("line 7: \"call\""), std::string::npos) << host.AllText();
}

TEST_F(ObjReaderTest, StopsWhenTheUserCancelsThroughProgress)
{
    std::string text;
    while (text.size() < (9u << 20))
        text += "v 0.125 0.25 0.5\nf 1 1 1\n";
    host.cancelAfterProgressCalls = 1;
    // Read on several threads, progress comes as they finish stretches of the text: steps
    // of 1 MiB make a second report sure.
    ProgressMeter progress("reading", text.size(), 1u << 20);
    Meshes meshes;
    EXPECT_THROW(ReadObj(text.data(), text.size(), "m.obj", "m", meshes, &progress), Cancelled);
    EXPECT_EQ(host.progressCalls, 2);
    EXPECT_TRUE(meshes.empty());
}

TEST_F(ObjReaderTest, AFileWithoutFacesGivesNoMeshAndAWarning)
{
    Meshes meshes = ReadOk("# nothing\nv 1 2 3\n");
    EXPECT_TRUE(meshes.empty());
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
}

// Every prefix and many single-byte changes of real files: an error naming the file, or
// meshes that pass every invariant; never a crash or an overread.
TEST_F(ObjReaderTest, DamagedCopiesGiveErrorsOrValidMeshes)
{
    for (const char* name : {"obj/box.obj", "obj/polygonfaces.obj", "obj/WusonOBJ.obj"}) {
        const std::string file = test::ReadBytes(test::TestData(name));
        const std::size_t step = file.size() < 1000 ? 1 : file.size() / 300;
        for (std::size_t cut = 0; cut < file.size(); cut += step) {
            Meshes meshes;
            const std::string error = Read(file.substr(0, cut), meshes);
            if (!error.empty()) {
                EXPECT_EQ(error.rfind("m.obj: ", 0), 0u) << error;
            }
        }
        std::uint32_t seed = 12345;
        for (int trial = 0; trial < 300; ++trial) {
            std::string copy = file;
            for (int k = 0; k < 4; ++k) {
                seed = seed * 1103515245 + 12345;
                copy[(seed >> 8) % copy.size()] = static_cast<char>(seed >> 24);
            }
            Meshes meshes;
            const std::string error = Read(copy, meshes);
            if (!error.empty()) {
                EXPECT_EQ(error.rfind("m.obj: line ", 0), 0u) << error;
            }
        }
    }
}

} // namespace
} // namespace polyvant::formats::obj
