#include "engine/render/light.h"

#include <gtest/gtest.h>

TEST(OrvaLight, DirectionIsNormalisedInPlaceAndStored)
{
    OrvaVector d(0.0f, -2.0f, 0.0f);
    OrvaLight::SetDirection(1, &d);
    EXPECT_FLOAT_EQ(d.x, 0.0f);
    EXPECT_FLOAT_EQ(d.y, -1.0f);
    EXPECT_FLOAT_EQ(d.z, 0.0f);
    OrvaVector out(9.0f, 9.0f, 9.0f);
    OrvaLight::GetDirection(1, &out);
    EXPECT_FLOAT_EQ(out.x, 0.0f);
    EXPECT_FLOAT_EQ(out.y, -1.0f);
    EXPECT_FLOAT_EQ(out.z, 0.0f);
}

TEST(OrvaLight, ColoursPositionAndAmbientRoundTrip)
{
    float r = 5.0f, g = 5.0f, b = 5.0f;
    // Light 3 was never set: black.
    OrvaLight::GetDiffuse(3, &r, &g, &b);
    EXPECT_EQ(r, 0.0f);
    EXPECT_EQ(g, 0.0f);
    EXPECT_EQ(b, 0.0f);

    OrvaLight::SetDiffuse(0, 0.25f, 0.5f, 0.75f);
    OrvaLight::SetSpecular(0, 1.0f, 0.125f, 0.0f);
    OrvaLight::GetDiffuse(0, &r, &g, &b);
    EXPECT_EQ(r, 0.25f);
    EXPECT_EQ(g, 0.5f);
    EXPECT_EQ(b, 0.75f);
    EXPECT_EQ(OrvaLight::GetRecord(0)->diffuse[3], 1.0f);
    OrvaLight::GetSpecular(0, &r, &g, &b);
    EXPECT_EQ(r, 1.0f);
    EXPECT_EQ(g, 0.125f);
    EXPECT_EQ(b, 0.0f);
    EXPECT_EQ(OrvaLight::GetRecord(0)->specular[3], 1.0f);

    const OrvaVector p(1.0f, 2.0f, 3.0f);
    OrvaLight::SetPosition(0, &p);
    OrvaVector q;
    OrvaLight::GetPosition(0, &q);
    EXPECT_EQ(q.x, 1.0f);
    EXPECT_EQ(q.y, 2.0f);
    EXPECT_EQ(q.z, 3.0f);

    OrvaLight::SetAmbient(0.375f);
    float ambient = 0.0f;
    OrvaLight::GetAmbient(&ambient);
    EXPECT_EQ(ambient, 0.375f);
}

TEST(OrvaLight, IndicesOutsideTheFourLightsChangeNothing)
{
    OrvaLight::SetDiffuse(2, 0.5f, 0.5f, 0.5f);
    OrvaLight::SetDiffuse(7, 0.9f, 0.9f, 0.9f);
    OrvaLight::SetDiffuse(-1, 0.9f, 0.9f, 0.9f);
    OrvaLight::Reset(4);
    OrvaLight::Reset(-3);
    OrvaLight::Enable(4, 1);
    float r = 7.0f, g = 7.0f, b = 7.0f;
    OrvaLight::GetDiffuse(4, &r, &g, &b);
    EXPECT_EQ(r, 7.0f);   // untouched
    OrvaLight::GetDiffuse(2, &r, &g, &b);
    EXPECT_EQ(r, 0.5f);
    EXPECT_EQ(OrvaLight::GetRecord(4), nullptr);
    EXPECT_EQ(OrvaLight::IsEnabled(4), 0u);
    OrvaVector v(7.0f, 7.0f, 7.0f);
    OrvaLight::GetDirection(9, &v);
    EXPECT_EQ(v.x, 7.0f);
}

TEST(OrvaLight, EnableMakesDirectionalAndResetClearsTheRecordOnly)
{
    OrvaLight::Enable(2, 0);
    EXPECT_EQ(OrvaLight::GetRecord(2)->type, OrvaLight::kTypeDirectional);
    EXPECT_EQ(OrvaLight::IsEnabled(2), 0u);
    OrvaLight::Enable(2, 1);
    OrvaVector d(3.0f, 0.0f, 4.0f);
    OrvaLight::SetDirection(2, &d);
    OrvaLight::SetSpecular(2, 1.0f, 1.0f, 1.0f);
    OrvaLight::Reset(2);
    const OrvaLightRecord* rec = OrvaLight::GetRecord(2);
    EXPECT_EQ(rec->type, 0u);
    EXPECT_EQ(rec->direction[2], 0.0f);
    EXPECT_EQ(rec->specular[0], 0.0f);
    EXPECT_EQ(OrvaLight::IsEnabled(2), 1u);
}
