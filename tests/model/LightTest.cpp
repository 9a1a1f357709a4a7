#include <gtest/gtest.h>
#include <string>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>
#include <polyvant/Vector.h>

#include "model/DefaultLights.h"

using namespace polyvant;

namespace {

class OtherObject : public Obj3d {
public:
    explicit OtherObject(bool* destroyed) : Obj3d("other", 1), m_destroyed(destroyed) {}
    ~OtherObject() override { *m_destroyed = true; }

private:
    bool* m_destroyed;
};

} // namespace

TEST(Light3dTest, SpotDirectionIsNormalisedAndZeroOnTheTarget)
{
    const double colour[3] = {1, 1, 1}, pos[3] = {1, 2, 3}, target[3] = {1, 2, 1};
    Light3d light("L", colour, pos, target, 15, 50);
    EXPECT_EQ(light.type, kLightType);
    EXPECT_TRUE(light.spot == 1 && light.on == 1);
    double dir[3];
    light.SpotDirection(dir);
    EXPECT_TRUE(dir[0] == 0.0 && dir[1] == 0.0 && dir[2] == -1.0);
    VecCopy(light.target, light.position);
    light.SpotDirection(dir);
    EXPECT_TRUE(dir[0] == 0.0 && dir[1] == 0.0 && dir[2] == 0.0);
}

TEST(DefaultLightsTest, FourLightsAtTheTopCornersAimedAtTheCentre)
{
    const double lo[3] = {-1, -2, -3}, hi[3] = {4, 5, 6}, centre[3] = {1.5, 1.5, 1.5};
    ObjectList fresh(DeleteSceneObject);
    CreateDefaultLights(&fresh, lo, hi, centre);
    ASSERT_EQ(fresh.Count(), 4);
    struct Expected {
        const char* name;
        double grey, x, y;
        int on;
    };
    const Expected expected[4] = {{"FrontLight1", 0.3, -1, -2, 1},
                                  {"FrontLight2", 0.4, 4, -2, 1},
                                  {"BackLight1", 0.3, 4, 5, 0},
                                  {"BackLight2", 0.4, -1, 5, 0}};
    for (int i = 0; i < 4; ++i) {
        auto* light = static_cast<Light3d*>(fresh.Get(i));
        SCOPED_TRACE(i);
        EXPECT_EQ(std::string(light->GetName()), expected[i].name);
        EXPECT_EQ(light->colour[0], expected[i].grey);
        EXPECT_EQ(light->colour[2], expected[i].grey);
        EXPECT_EQ(light->position[0], expected[i].x);
        EXPECT_EQ(light->position[1], expected[i].y);
        EXPECT_EQ(light->position[2], 6.0);
        EXPECT_EQ(light->target[0], 1.5);
        EXPECT_EQ(light->on, expected[i].on);
        EXPECT_EQ(light->spot, 1);
        EXPECT_EQ(light->falloff, 15.0);
        EXPECT_EQ(light->radius, 50.0);
    }
    CreateDefaultLights(&fresh, lo, hi, centre);
    EXPECT_EQ(fresh.Count(), 8);
    CreateDefaultLights(nullptr, lo, hi, centre);
    CreateDefaultLights(&fresh, nullptr, hi, centre);
    EXPECT_EQ(fresh.Count(), 8); // appends, never clears
}

TEST(DeleteSceneObjectTest, DestroysMeshesAndLightsOnly)
{
    bool destroyed = false;
    auto* other = new OtherObject(&destroyed);
    DeleteSceneObject(other);
    EXPECT_FALSE(destroyed);
    delete other;
    EXPECT_TRUE(destroyed);
    // Meshes and lights are freed (ASan reports a leak otherwise).
    DeleteSceneObject(new Mesh3d("m", 1));
    const double v[3] = {0, 0, 0};
    DeleteSceneObject(new Light3d("l", v, v, v, 1, 1));
    DeleteSceneObject(nullptr);
}
