// The records shared with plug-ins, checked byte for byte on the x86-64 interface. offsetof
// on classes with a vtable is conditionally supported and warns; g++ gives the Itanium ABI
// offsets, and the warning stays in this file.
#include <cstddef>
#include <gtest/gtest.h>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>

#pragma GCC diagnostic ignored "-Winvalid-offsetof"

using polyvant::ListNode;
using polyvant::Mesh3d;
using polyvant::ObjectList;

static_assert(sizeof(void*) == 8, "the plug-in interface is laid out for 64-bit pointers");
static_assert(offsetof(Mesh3d, name) == 8);
static_assert(offsetof(Mesh3d, type) == 16);
static_assert(offsetof(Mesh3d, boundsEmpty) == 20);
static_assert(offsetof(Mesh3d, vertices) == 24);
static_assert(offsetof(Mesh3d, faces) == 32);
static_assert(offsetof(Mesh3d, edges) == 40);
static_assert(offsetof(Mesh3d, vertexData) == 48);
static_assert(offsetof(Mesh3d, faceData) == 56);
static_assert(offsetof(Mesh3d, vertexCount) == 64);
static_assert(offsetof(Mesh3d, faceCount) == 68);
static_assert(offsetof(Mesh3d, min) == 72);
static_assert(offsetof(Mesh3d, max) == 96);
static_assert(offsetof(Mesh3d, transform) == 120);
static_assert(sizeof(Mesh3d) == 248);
static_assert(offsetof(ObjectList, head) == 0);
static_assert(offsetof(ObjectList, tail) == 8);
static_assert(offsetof(ObjectList, count) == 16);
static_assert(offsetof(ObjectList, deleter) == 24);
static_assert(sizeof(ObjectList) == 32);
static_assert(offsetof(ListNode, item) == 0);
static_assert(offsetof(ListNode, next) == 8);
static_assert(sizeof(ListNode) == 16);

TEST(LayoutTest, VtablePointerComesFirst)
{
    // The dispatch pointer at offset 0 is what a plug-in's delete goes through.
    Mesh3d mesh("m", Mesh3d::kFlat);
    EXPECT_EQ(reinterpret_cast<char*>(&mesh.name) - reinterpret_cast<char*>(&mesh), 8);
    EXPECT_NE(*reinterpret_cast<void**>(&mesh), nullptr);
}
