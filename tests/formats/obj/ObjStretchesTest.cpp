// A big file is read in stretches on several threads; whatever the places where the
// stretches meet, the meshes, warnings and errors must be those of one reading in turn.
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/PluginSupport.h"
#include "obj/ObjReader.h"

namespace polyvant::formats::obj {
namespace {

using Meshes = std::vector<std::unique_ptr<Mesh3d>>;

// Everything a reading gives: each mesh whole (name, vertices, all four words of every
// face), then the messages.
std::string Outcome(const std::string& text, unsigned stretches)
{
    test::HostRecorder host;
    Meshes meshes;
    const std::string error =
        test::ReadExactly(text, meshes, [&](const char* data, std::size_t size) {
            ReadObj(data, size, "m.obj", "m", meshes, nullptr, nullptr, stretches);
        });
    std::string out = "error: " + error + "\n";
    for (const auto& mesh : meshes) {
        out += std::string("mesh ") + mesh->name + " " + std::to_string(mesh->vertexCount) + " " +
               std::to_string(mesh->faceCount) + "\n";
        out.append(reinterpret_cast<const char*>(mesh->vertexData),
                   3 * sizeof(double) * mesh->vertexCount);
        out.append(reinterpret_cast<const char*>(mesh->faceData),
                   4 * sizeof(std::uint32_t) * mesh->faceCount);
        out += "\n";
    }
    return out + host.AllText();
}

// Each reading of `text` in 2 to 9 stretches, with the text shifted by comment lines of
// every length up to `shifts` so that the stretches meet at ever other places.
void ExpectSameInStretches(const std::string& text, std::size_t shifts)
{
    for (std::size_t shift = 0; shift <= shifts; ++shift) {
        const std::string shifted = shift ? "#" + std::string(shift, '-') + "\n" + text : text;
        const std::string whole = Outcome(shifted, 1);
        for (unsigned stretches = 2; stretches <= 9; ++stretches) {
            SCOPED_TRACE("shift " + std::to_string(shift) + ", " + std::to_string(stretches) +
                         " stretches");
            const std::string parts = Outcome(shifted, stretches);
            ASSERT_EQ(parts.size(), whole.size()) << parts.substr(0, 400) << "\n---\n"
                                                  << whole.substr(0, 400);
            ASSERT_TRUE(parts == whole)
                << parts.substr(parts.size() - std::min<std::size_t>(parts.size(), 600));
        }
    }
}

// Groups, objects and materials that start and stop on either side of a meeting place,
// negative indices that reach back across it, polygons split into triangles with vertices
// from both sides, bad faces on both sides (the first is named), statements continued over
// lines, comments, CRLF and blank lines.
const char kMixed[] = "# mixed\r\n"
                      "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                      "f 1 2 3\n"
                      "usemtl red\n"
                      "f -4 -2 -1 # after a comment\n"
                      "g first\n"
                      "v 2 0 0\nv 2 1 0\nv 3 0.5 0\n"
                      "f 5 6 7\n"
                      "f 1 2 9\n" // a vertex not read yet: skipped
                      "usemtl blue\n"
                      "f 1/1 2/2/2 3//3\n"
                      "\n"
                      "o second\n"
                      "usemtl red\n"
                      "v 0 0 1\nv 4 0 1\nv 4 4 1\nv 2 1 1\nv 0 4 1\n"
                      "f -5 -4 -3 -2 -1\n" // concave
                      "f 8 \\\n 9 \\\n 10\n"
                      "call other.obj\n"
                      "g\n"
                      "f 1 2 x\n"
                      "f 0 1 2\n"
                      "g named\n"
                      "g renamed\n"
                      "usemtl green\n"
                      "f 3 4 1 2\n"
                      "f 1 2\n"
                      "v 5 5 5\n"
                      "f -1 -2 -3\n"
                      "csh echo\n"
                      "g last # comment\n"
                      "f 12 13 14 15 16\n"
                      "f 99999999999 1 2\n";

TEST(ObjStretchesTest, MixedStatementsReadAlikeWhereverTheStretchesMeet)
{
    ExpectSameInStretches(kMixed, 60);
    // Repeated, so that each stretch holds a good deal and groups span several.
    std::string many;
    for (int k = 0; k < 20; ++k)
        many += kMixed;
    ExpectSameInStretches(many, 3);
}

TEST(ObjStretchesTest, ErrorsNameTheSameLineWhereverTheStretchesMeet)
{
    std::string text;
    for (int k = 0; k < 30; ++k)
        text += kMixed;
    for (const char* bad : {"v 1 2 nan\n", "v 1 2\n", "\x01\x02 data\n", "v 1 2 \\\n x\n"}) {
        SCOPED_TRACE(bad);
        // Early, in the middle and near the end: the first error of the file counts.
        for (std::size_t at : {text.size() / 5, text.size() / 2, text.size() - 20}) {
            const std::size_t lineStart = text.rfind('\n', at) + 1;
            std::string damaged = text;
            damaged.insert(lineStart, bad);
            ExpectSameInStretches(damaged, 2);
            EXPECT_NE(Outcome(damaged, 1).find("error: m.obj: line "), std::string::npos);
        }
    }
}

TEST(ObjStretchesTest, ShortLinesFarBeyondWhatTheSizeSuggestsReadAlike)
{
    // Six times the vertices and faces a file of this size usually holds: the arrays of
    // the stretches are joined well past the room first set aside.
    std::string text;
    for (int k = 0; k < 20000; ++k)
        text += "v " + std::to_string(k % 10) + " " + std::to_string(k / 10 % 10) + " 0\n";
    for (int k = 3; k <= 20000; ++k)
        text += "f " + std::to_string(k) + " -1 1\n";
    ExpectSameInStretches(text, 0);
}

TEST(ObjStretchesTest, SampleFilesReadAlikeInStretches)
{
    for (const char* name :
         {"obj/WusonOBJ.obj", "obj/cornell_box.obj", "obj/spider.obj", "obj/concave_polygon.obj",
          "obj/negative_indices.obj", "obj/box_without_lineending.obj", "obj/cube_usemtl.obj"}) {
        SCOPED_TRACE(name);
        ExpectSameInStretches(test::ReadBytes(test::TestData(name)), 1);
    }
}

TEST(ObjStretchesTest, DamagedCopiesReadAlikeInStretches)
{
    std::string mixed;
    for (int k = 0; k < 10; ++k)
        mixed += kMixed;
    for (const std::string& file : {mixed, test::ReadBytes(test::TestData("obj/spider.obj"))}) {
        std::uint32_t seed = 777;
        for (int trial = 0; trial < 150; ++trial) {
            std::string copy = file;
            for (int k = 0; k < 6; ++k) {
                seed = seed * 1103515245 + 12345;
                // Line ends, backslashes, signs and digits move the stretches' meeting
                // places and the statements around them.
                const char kBytes[] = "\n\\-0 9#gfv/\r";
                copy[(seed >> 8) % copy.size()] = kBytes[(seed >> 24) % (sizeof kBytes - 1)];
            }
            SCOPED_TRACE(trial);
            const std::string whole = Outcome(copy, 1);
            for (unsigned stretches : {2u, 3u, 7u})
                ASSERT_TRUE(Outcome(copy, stretches) == whole) << stretches << " stretches";
        }
    }
}

TEST(ObjStretchesTest, StretchesNeverMeetInsideAContinuedStatement)
{
    // One statement continued over every line: however many stretches are asked for,
    // the text is read as one.
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 \\\n";
    for (int k = 0; k < 200; ++k)
        text += "  2 \\\n";
    text += "3\n";
    ExpectSameInStretches(text, 5);
    EXPECT_NE(Outcome(text, 4).find("mesh m 3 200\n"),
              std::string::npos); // one polygon of 202 corners
}

TEST(ObjStretchesTest, CancellingWhileStretchesAreReadStopsThemAll)
{
    std::string text;
    for (int k = 0; k < 20000; ++k)
        text += "v 1 2 3\nv 4 5 6\nv 7 8 9\nf -1 -2 -3\n";
    test::HostRecorder host;
    host.cancelAfterProgressCalls = 0;
    ProgressMeter progress("Reading", text.size(), 1024);
    Meshes meshes;
    EXPECT_THROW(ReadObj(text.data(), text.size(), "m.obj", "m", meshes, &progress, nullptr, 4),
                 Cancelled);
    EXPECT_TRUE(meshes.empty());
}

} // namespace
} // namespace polyvant::formats::obj
