#include <gtest/gtest.h>

#include "FormatTestSupport.h"
#include "IobTestSupport.h"

namespace polyvant::formats::test {
namespace {

void ExpectFace(const Mesh3d& m, std::uint32_t f, std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    ASSERT_LT(f, m.faceCount);
    EXPECT_EQ(m.faceData[4 * f], a) << "face " << f;
    EXPECT_EQ(m.faceData[4 * f + 1], b) << "face " << f;
    EXPECT_EQ(m.faceData[4 * f + 2], c) << "face " << f;
}

// --- What a well-formed file holds ---------------------------------------------------

TEST(IobObjects, OneObjectGivesItsPointsAndTriangles)
{
    const IobRead r = ReadIobBytes(Form(Chunk("OBJ ", Desc(SquareBody("Square")) + Tobj())));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    const Mesh3d& m = *r.meshes[0];
    ExpectValidMesh(m);
    EXPECT_STREQ(m.name, "Square");
    EXPECT_EQ(m.vertexCount, 4u);
    ExpectFace(m, 0, 0, 1, 2);
    ExpectFace(m, 1, 0, 2, 3); // edges 2-0 and 2-3 meet at point 2, the middle corner
    EXPECT_DOUBLE_EQ(m.max[0], 1);
    EXPECT_DOUBLE_EQ(m.max[1], 1);
    EXPECT_TRUE(r.warnings.empty());
}

TEST(IobObjects, FixedPointCoordinatesKeepSignAndFraction)
{
    const std::string body = Points({{-2.25, 32767.5, -32768}, {1.0 / 65536, 0, 0}, {0, 0, 1}}) +
                             Edges({{0, 1}, {1, 2}, {2, 0}}) + Faces({{0, 1, 2}});
    const IobRead r = ReadIobBytes(Form(Chunk("OBJ ", Desc(body) + Tobj())));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    const double* v = r.meshes[0]->vertexData;
    EXPECT_EQ(v[0], -2.25);
    EXPECT_EQ(v[1], 32767.5);
    EXPECT_EQ(v[2], -32768.0);
    EXPECT_EQ(v[3], 1.0 / 65536);
    EXPECT_STREQ(r.meshes[0]->name, "Object 1"); // no NAME chunk
}

TEST(IobObjects, CornerOrderFollowsTheEdgesWhicheverWayEachPoints)
{
    // The same triangle with its edges reversed: corners follow e0, then e1.
    const std::string body = Points({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}) +
                             Edges({{1, 0}, {2, 1}, {0, 2}}) + Faces({{0, 1, 2}, {2, 1, 0}});
    const IobRead r = ReadIobBytes(Form(Chunk("OBJ ", Desc(body) + Tobj())));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    ExpectFace(*r.meshes[0], 0, 0, 1, 2);
    ExpectFace(*r.meshes[0], 1, 0, 2, 1);
}

TEST(IobObjects, NestedObjectsEachBecomeAMeshAndEmptyGroupsNone)
{
    // A group head without points holding two children, then a brother.
    const std::string tree = Desc(Name("Car")) + Desc(SquareBody("Wheel")) + Tobj() +
                             Desc(SquareBody("Door")) + Tobj() + Tobj() +
                             Desc(SquareBody("Garage")) + Tobj();
    const IobRead r = ReadIobBytes(Form(Chunk("OBJ ", tree)));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.objects, 4u);
    ASSERT_EQ(r.meshes.size(), 3u);
    EXPECT_STREQ(r.meshes[0]->name, "Wheel");
    EXPECT_STREQ(r.meshes[1]->name, "Door");
    EXPECT_STREQ(r.meshes[2]->name, "Garage");
}

TEST(IobObjects, SeveralObjChunksAndOtherTopLevelChunksAreRead)
{
    const IobRead r = ReadIobBytes(Form(Chunk("INFO", std::string(7, 'i')) +
                                        Chunk("OBJ ", Desc(SquareBody("A")) + Tobj()) +
                                        Chunk("OBJ ", Desc(SquareBody("B")) + Tobj())));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 2u);
    EXPECT_STREQ(r.meshes[1]->name, "B");
}

TEST(IobObjects, LongListsReadLikeShortOnes)
{
    const IobRead narrow = ReadIobBytes(Form(Chunk("OBJ ", Desc(SquareBody("S")) + Tobj())));
    const IobRead wide = ReadIobBytes(Form(Chunk("OBJ ", Desc(SquareBody("S", true)) + Tobj())));
    ASSERT_TRUE(wide.ok) << wide.error;
    ASSERT_EQ(wide.meshes.size(), 1u);
    ExpectSameMeshes({narrow.meshes[0].get()}, {wide.meshes[0].get()});
}

TEST(IobObjects, OddChunksArePaddedAndUnknownChunksSkipped)
{
    // An odd unknown chunk (padded) inside the DESC, and an odd NAME of 3 bytes whose
    // pad byte a writer left out at the very end of its DESC.
    const std::string body = Chunk("FGR2", "abcde") + SquareBody("X").substr(26) +
                             Chunk("TXT4", std::string(9, 't')) + Chunk("NAME", "Odd", false);
    const IobRead r = ReadIobBytes(Form(Chunk("OBJ ", Desc(body) + Tobj())));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    EXPECT_STREQ(r.meshes[0]->name, "Odd");
    EXPECT_EQ(r.meshes[0]->faceCount, 2u);
}

TEST(IobObjects, AFullEighteenByteNameNeedsNoTerminator)
{
    const IobRead r =
        ReadIobBytes(Form(Chunk("OBJ ", Desc(SquareBody("ABCDEFGHIJKLMNOPQRSTUV")) + Tobj())));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_STREQ(r.meshes[0]->name, "ABCDEFGHIJKLMNOPQR");
}

TEST(IobObjects, FaceColoursGoIntoTheFourthWord)
{
    const std::string colours = Chunk("CLST", Be16(2) + std::string("\x10\x20\x30\xff\x00\x01", 6));
    const IobRead r = ReadIobBytes(Form(Chunk("OBJ ", Desc(SquareBody("C") + colours) + Tobj())));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.meshes[0]->faceData[3], 0x102030u);
    EXPECT_EQ(r.meshes[0]->faceData[7], 0xff0001u);
}

TEST(IobObjects, PositionAxesAndSizeDoNotMoveThePoints)
{
    const std::string frame = Chunk("POSI", Fract(100) + Fract(200) + Fract(300)) +
                              Chunk("AXIS", Fract(0) + Fract(1) + Fract(0) + Fract(-1) + Fract(0) +
                                                Fract(0) + Fract(0) + Fract(0) + Fract(1)) +
                              Chunk("SIZE", Fract(5) + Fract(5) + Fract(5));
    const IobRead plain = ReadIobBytes(Form(Chunk("OBJ ", Desc(SquareBody("S")) + Tobj())));
    const IobRead framed =
        ReadIobBytes(Form(Chunk("OBJ ", Desc(frame + SquareBody("S")) + Tobj())));
    ASSERT_TRUE(framed.ok) << framed.error;
    ExpectSameMeshes({plain.meshes[0].get()}, {framed.meshes[0].get()});
}

// --- Faces that do not hold together ---------------------------------------------------

TEST(IobBadFaces, FacesWhoseEdgesMakeNoTriangleAreDroppedWithAWarning)
{
    const std::string body = Name("Bad") + Points({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}) +
                             Edges({{0, 1}, {1, 2}, {2, 0}, {2, 3}, {3, 3}, {0, 9}}) +
                             Faces({{0, 1, 2},   // good
                                    {0, 1, 3},   // third edge does not close the triangle
                                    {0, 3, 2},   // first two edges share no point
                                    {0, 1, 7},   // edge past the list
                                    {4, 1, 2},   // an edge from a point to itself
                                    {5, 1, 2},   // an edge to a point past the list
                                    {0, 0, 0}}); // the same edge three times
    const IobRead r = ReadIobBytes(Form(Chunk("OBJ ", Desc(body) + Tobj())));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    EXPECT_EQ(r.meshes[0]->faceCount, 1u);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("6 face(s)"), std::string::npos) << r.warnings[0];
}

// --- Files that are refused ------------------------------------------------------------

struct BrokenFile {
    const char* what;
    std::string bytes;
    const char* expected; // part of the error
};

void PrintTo(const BrokenFile& f, std::ostream* os)
{
    *os << f.what;
}

class IobBrokenFile : public testing::TestWithParam<BrokenFile> {};

TEST_P(IobBrokenFile, IsRefusedNamingOffsetAndChunk)
{
    const IobRead r = ReadIobBytes(GetParam().bytes);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.meshes.empty());
    EXPECT_NE(r.error.find(GetParam().expected), std::string::npos) << r.error;
}

std::string WithObj(const std::string& objBody)
{
    return Form(Chunk("OBJ ", objBody));
}

std::string DeepTree(std::size_t depth)
{
    std::string tree;
    for (std::size_t i = 0; i < depth; ++i)
        tree += Desc("");
    return tree;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, IobBrokenFile,
    testing::Values(
        BrokenFile{"empty", "", "not an IFF file"},
        BrokenFile{"another IFF type", "FORM" + Be32(4) + "ILBM", "offset 8: chunk 'FORM'"},
        BrokenFile{"FORM longer than the file", "FORM" + Be32(100) + "TDDD",
                   "offset 4: chunk 'FORM': length 100"},
        BrokenFile{"FORM length 0xFFFFFFFF", "FORM" + Be32(0xFFFFFFFF) + "TDDD", "offset 4"},
        BrokenFile{"chunk past its parent", Form(Chunk("OBJ ", "") + "OBJ " + Be32(50)),
                   "offset 20: chunk 'OBJ ': length 50 runs past its parent"},
        BrokenFile{"sub-chunk past its DESC",
                   WithObj(Chunk("DESC", "PNTS" + Be32(0x7FFFFFFF) + "xx")),
                   "offset 28: chunk 'PNTS': length 2147483647"},
        BrokenFile{"header cut short", Form("OBJ "), "offset 12: chunk header cut short"},
        BrokenFile{"point count past its chunk",
                   WithObj(Desc(Chunk("PNTS", Be16(0xFFFF) + Fract(1) + Fract(2) + Fract(3)))),
                   "offset 28: chunk 'PNTS': count 65535"},
        BrokenFile{"wide count that would wrap",
                   WithObj(Desc(Chunk("FAC2", Be32(0x55555556) + std::string(12, '\0')))),
                   "chunk 'FAC2': count 1431655766"},
        BrokenFile{"list without room for its count", WithObj(Desc(Chunk("EDGE", "\x01"))),
                   "chunk 'EDGE': too short for its count"},
        BrokenFile{"TOBJ without DESC", WithObj(Tobj()), "offset 20: chunk 'TOBJ'"},
        BrokenFile{"faces without edges",
                   WithObj(Desc(Points({{0, 0, 0}}) + Faces({{0, 0, 0}})) + Tobj()),
                   "has faces but no edges"},
        BrokenFile{"nesting 100000 deep", WithObj(DeepTree(100000)), "nested more than 64"}));

// --- Every prefix and many altered copies of a small file -------------------------------

TEST(IobDamage, EveryTruncationAndAlteredByteIsSafe)
{
    const std::string good = Form(Chunk("OBJ ", Desc(Name("A")) + Desc(SquareBody("S")) + Tobj() +
                                                    Desc(SquareBody("T", true)) + Tobj() + Tobj()));
    auto check = [](const std::string& bytes) {
        const IobRead r = ReadIobBytes(bytes);
        if (!r.ok) {
            EXPECT_FALSE(r.error.empty());
            return;
        }
        for (const auto& m : r.meshes)
            ExpectValidMesh(*m);
    };
    for (std::size_t n = 0; n < good.size(); ++n)
        check(good.substr(0, n));
    for (std::size_t at = 0; at < good.size(); ++at)
        for (unsigned char value : {0x00, 0x01, 0x7f, 0x80, 0xff}) {
            std::string copy = good;
            copy[at] = static_cast<char>(value);
            check(copy);
        }
}

} // namespace
} // namespace polyvant::formats::test
