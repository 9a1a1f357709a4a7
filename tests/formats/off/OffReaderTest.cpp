#include "off/OffReader.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/PluginSupport.h"

namespace polyvant::formats::off {
namespace {

using Meshes = std::vector<std::unique_ptr<Mesh3d>>;

class OffReaderTest : public testing::Test {
protected:
    // Reads from a buffer of exactly the text's size; the error, or "" on success.
    std::string Read(const std::string& text, Meshes& meshes)
    {
        return test::ReadExactly(text, meshes, [&](const char* data, std::size_t size) {
            ReadOff(data, size, "m.off", "m", meshes, nullptr);
        });
    }
    Meshes ReadOk(const std::string& text)
    {
        Meshes meshes;
        EXPECT_EQ(Read(text, meshes), "");
        return meshes;
    }

    test::HostRecorder host;
};

struct Sample {
    const char* file;
    std::uint32_t vertices, triangles;
    std::size_t distinct;
};

// Counted independently by a short script reading the files as value streams.
// `assimp info` (5.2) reports the distinct positions as its vertex count and agrees on
// every triangle count, except that it refuses inspired_mesh_quads_Smooth.off, whose
// faces run over several lines; that is valid OFF (values are whitespace-separated),
// so our 3676 triangles from 1838 quads are right.
const Sample kSamples[] = {
    {"2triangles.off", 4, 2, 4},
    {"Cube.off", 8, 12, 8},
    {"Wuson.off", 3205, 3732, 2117},
    {"beetle.off", 19887, 38656, 19885},
    {"comments.off", 8, 12, 8},
    {"decimated-knight.off", 502, 1000, 502},
    {"fandisk.off", 7229, 14454, 7229},
    {"grid.off", 145, 256, 145},
    {"inspired_mesh_quads_Smooth.off", 1963, 3676, 1963},
};

TEST_F(OffReaderTest, SampleFilesGiveTheirVerticesAndTriangles)
{
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.file);
        Meshes meshes = ReadOk(test::ReadBytes(test::TestData(std::string("off/") + s.file)));
        ASSERT_EQ(meshes.size(), 1u);
        EXPECT_STREQ(meshes[0]->name, "m");
        EXPECT_EQ(meshes[0]->vertexCount, s.vertices);
        EXPECT_EQ(meshes[0]->faceCount, s.triangles);
        EXPECT_EQ(test::DistinctPositions(*meshes[0]), s.distinct);
    }
    EXPECT_TRUE(host.messages.empty()) << host.AllText();
}

TEST_F(OffReaderTest, AcceptsHeaderVariantsCountsOnTheHeaderLineAndNoHeader)
{
    const std::string body = "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    Meshes plain = ReadOk("OFF\n3 1 0\n" + body);
    for (const std::string& text : std::vector<std::string>{
             "OFF 3 1 0\n" + body, "3 1 0\n" + body, "# c\nCOFF\n3 1\n" + body,
             "NOFF\n3 1 0\n0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 0 1\n3 0 1 2 1 0 0\n",
             "STCOFF\r\n3 1 0\r\n0 0 0 1 1 1 1 0 0\r\n1 0 0 1 1 1 1 0 0\r\n0 1 0 1 1 1 1 0 0\r\n"
             "3\t0 1 2\r\n",
             " \tOFF3 1 0 # count glued to the keyword\n" + body,
             // Three dimensions named; homogeneous coordinates divided out.
             "nOFF\n3\n3 1 0\n" + body, "nOFF 3 3 1 0\n" + body,
             "4OFF\n3 1 0\n0 0 0 1\n2 0 0 2\n0 0.5 0 0.5\n3 0 1 2\n",
             "C4nOFF\n3 3 1 0\n0 0 0 2 1 1 1 1\n2 0 0 2 1 1 1 1\n0 2 0 2 1 1 1 1\n"
             "3 0 1 2\n"}) {
        SCOPED_TRACE(text);
        Meshes other = ReadOk(text);
        ASSERT_EQ(other.size(), 1u);
        test::ExpectSameMeshes({plain[0].get()}, {other[0].get()});
    }
}

TEST_F(OffReaderTest, RefusesWhatItCannotReadNamingTheLine)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "m.off: line 1: "},
        {"PLY\n", "m.off: line 1: not an OFF file"},
        {"nOFF\n4\n1 0 0\n", "m.off: line 2: only 3-dimensional OFF files are supported; this "
                             "one gives \"4\" dimensions"},
        {"nOFF\n", "m.off: line 1: the file ends before the number of dimensions"},
        {"4OFF\n3 1 0\n0 0 0 1\n1 0 0 0\n0 1 0 1\n3 0 1 2\n",
         "m.off: line 4: a vertex at infinity (w is 0)"},
        {"4OFF\n3 1 0\n0 0 0 1\n1 0 0 1e-300\n0 1 0 1\n3 0 1 2\n",
         "m.off: line 4: a vertex divided by its w is too large"},
        {"OFFX\n3 1 0\n", "m.off: line 1: unknown OFF header keyword \"OFFX\""},
        {"OFF\n1000000000000 1 0\n0 0 0\n", "m.off: line 2: the header declares 1000000000000"},
        {"OFF\n3 4294967295 0\n0 0 0\n1 0 0\n0 1 0\n",
         "m.off: line 2: the header declares 4294967295 faces"},
        {"OFF\n3 1 0\n0 0 0\n1 nan 0\n0 1 0\n3 0 1 2\n", "m.off: line 4: "},
        {"OFF\n3 1 0\n0 0 0\n1 1e309 0\n0 1 0\n3 0 1 2\n", "m.off: line 4: "},
        {"OFF\n3 1 0\n0.000000 0.000000 0\n1 0 0\n", "m.off: line 4: the file ends before"},
        {"OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\nx 0 1 2\n", "m.off: line 6: "},
        {"OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n", "m.off: line 6: "},
        {"OFF\n-3 1 0\n", "m.off: line 2: "},
    };
    for (const auto& [text, start] : cases) {
        SCOPED_TRACE(text);
        Meshes meshes;
        const std::string error = Read(text, meshes);
        EXPECT_EQ(error.rfind(start, 0), 0u) << error;
    }
}

TEST_F(OffReaderTest, SkipsFacesWithBadIndicesAndKeepsTheRest)
{
    Meshes meshes = ReadOk("OFF\n4 4 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n3 0 1 2\n3 0 2 4\n"
                           "3 0 2 4294967296\n4 0 1 2 3\n");
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 3u);
    const auto warnings = host.Texts(PV_WARNING);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("m.off: line 8: vertex index 4 ", 0), 0u) << warnings[0];
}

TEST_F(OffReaderTest, KeepsTheFacesReadWhenTheFileEndsEarly)
{
    Meshes meshes = ReadOk("OFF\n3 3 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n3 2 1");
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 1u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_NE(host.Texts(PV_WARNING)[0].find("ends within face 2 of 3"), std::string::npos);
}

// A plain grid big enough to be read on two threads.
std::string PlainGrid(int n, const std::string& afterVertex = "", const std::string& lastFace = "")
{
    std::string vertices, faces;
    int faceCount = 0;
    char line[96];
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j) {
            vertices.append(line, std::snprintf(line, sizeof line, "%.3f %.2f %d\n", i * 0.125,
                                                j * 0.25, (i * j) % 7));
            if (i * (n + 1) + j == n)
                vertices += afterVertex;
        }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const int a = i * (n + 1) + j;
            faces.append(line, std::snprintf(line, sizeof line, "3 %d %d %d\n3 %d %d %d\n", a,
                                             a + n + 1, a + 1, a + 1, a + n + 1, a + n + 2));
            faceCount += 2;
        }
    return "OFF\n" + std::to_string((n + 1) * (n + 1)) + " " + std::to_string(faceCount + 1) +
           " 0\n" + vertices + faces + (lastFace.empty() ? "3 0 1 2\n" : lastFace);
}

// Plain files are read on two threads; anything unusual goes to the one-thread reader.
// Both must give the same mesh, and the fallback must still see late faults.
TEST_F(OffReaderTest, TwoThreadAndOneThreadReadsAgree)
{
    Meshes plain = ReadOk(PlainGrid(300));
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0]->faceCount, 2u * 300 * 300 + 1);
    for (const auto& [afterVertex, lastFace] :
         {std::pair<std::string, std::string>{"# a comment\n", ""},
          {"", "3 0 1 2 0.5 0.5 0.5\n"},
          {"\n", "3\n0 1\n2\n"}}) {
        Meshes other = ReadOk(PlainGrid(300, afterVertex, lastFace));
        ASSERT_EQ(other.size(), 1u);
        test::ExpectSameMeshes({plain[0].get()}, {other[0].get()});
    }
    EXPECT_TRUE(host.messages.empty()) << host.AllText();

    Meshes bad = ReadOk(PlainGrid(300, "", "3 0 1 999999\n"));
    EXPECT_EQ(bad[0]->faceCount, 2u * 300 * 300);
    EXPECT_EQ(host.Texts(PV_WARNING).size(), 1u);

    Meshes nan;
    EXPECT_NE(Read(PlainGrid(300, "1 nan 2\n"), nan).find("not finite"), std::string::npos);
}

// The faces are read from both ends towards a meeting line. A line that is not a plain
// face anywhere among them, or a face count that does not match the lines, must send
// the whole file to the one-thread reader, whatever side meets it.
TEST_F(OffReaderTest, TwoSidedFaceReadingFallsBackOnAnyOddLine)
{
    const int n = 300;
    const std::string text = PlainGrid(n);
    Meshes plain = ReadOk(text);
    ASSERT_EQ(plain.size(), 1u);
    const std::size_t faceStart = [&] {
        std::size_t at = 0;
        for (int line = 0; line < 2 + (n + 1) * (n + 1); ++line)
            at = text.find('\n', at) + 1;
        return at;
    }();
    const std::size_t faceBytes = text.size() - faceStart;
    // After the line that holds this fraction of the face bytes.
    const auto insertAt = [&](double fraction, const std::string& what) {
        const std::size_t at = text.find('\n', faceStart + std::size_t(fraction * faceBytes));
        std::string copy = text;
        copy.insert(at == std::string::npos ? copy.size() : at + 1, what);
        return copy;
    };
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::string lastLineCut = text.substr(0, text.rfind('\n', text.size() - 2) + 1);
    std::vector<std::string> same = {crlf,
                                     text.substr(0, text.size() - 1),
                                     lastLineCut,
                                     text + "\n\n",
                                     text + "# the end\n",
                                     insertAt(0.0, "# first\n")};
    for (double fraction : {0.01, 0.3, 0.5, 0.7, 0.99}) {
        same.push_back(insertAt(fraction, "# a comment among the faces\n"));
        same.push_back(insertAt(fraction, "\n"));
        same.push_back(insertAt(fraction, "3 0 1 2 0.5 0.5 0.5\n"));
        same.push_back(insertAt(fraction, "3 2 1 0\n")); // a face more than declared
    }
    // Faces the short path leaves to the general one: wider blanks, long numbers.
    for (const char* face : {"3  2 1 0\n", "3 00000002 1 0\n", "3 2 1 0 \n", "3\t2 1 0\n",
                             "3 2 1 00000000\n", "03 2 1 0\n"})
        same.push_back(insertAt(0.5, face));
    for (std::size_t i = 0; i < same.size(); ++i) {
        Meshes other = ReadOk(same[i]);
        ASSERT_EQ(other.size(), 1u) << i;
        // A comment before the vertices sends the same text to the one-thread reader.
        std::string oneThread = same[i];
        oneThread.insert(oneThread.find('\n') + 1, "# one thread\n");
        Meshes reference = ReadOk(oneThread);
        ASSERT_EQ(reference.size(), 1u) << i;
        test::ExpectSameMeshes({reference[0].get()}, {other[0].get()});
    }
}

TEST_F(OffReaderTest, CancellingATwoThreadReadStopsBothThreads)
{
    const std::string text = PlainGrid(300);
    host.cancelAfterProgressCalls = 0;
    ProgressMeter progress("reading", text.size(), 1);
    Meshes meshes;
    EXPECT_THROW(ReadOff(text.data(), text.size(), "m.off", "m", meshes, &progress), Cancelled);
    EXPECT_TRUE(meshes.empty());
}

TEST_F(OffReaderTest, DamagedCopiesGiveErrorsOrValidMeshes)
{
    for (const char* name : {"off/comments.off", "off/inspired_mesh_quads_Smooth.off"}) {
        const std::string file = test::ReadBytes(test::TestData(name));
        const std::size_t step = file.size() < 1000 ? 1 : file.size() / 300;
        for (std::size_t cut = 0; cut < file.size(); cut += step) {
            Meshes meshes;
            const std::string error = Read(file.substr(0, cut), meshes);
            if (!error.empty()) {
                EXPECT_EQ(error.rfind("m.off: line ", 0), 0u) << error;
            }
        }
        std::uint32_t seed = 7;
        for (int trial = 0; trial < 300; ++trial) {
            std::string copy = file;
            for (int k = 0; k < 4; ++k) {
                seed = seed * 1103515245 + 12345;
                copy[(seed >> 8) % copy.size()] = static_cast<char>(seed >> 24);
            }
            Meshes meshes;
            const std::string error = Read(copy, meshes);
            if (!error.empty()) {
                EXPECT_EQ(error.rfind("m.off: line ", 0), 0u) << error;
            }
        }
    }
}

} // namespace
} // namespace polyvant::formats::off
