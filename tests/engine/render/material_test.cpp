#include "engine/render/material.h"

#include <gtest/gtest.h>

#include "engine/core/device.h"
#include "engine/core/texture.h"

namespace {

void Discard(const uint32_t*, int, int, int) {}

class MaterialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        OrvaDevice::Configure(16, 16, true, &Discard);
        ASSERT_TRUE(OrvaDevice::Initialize());
        OrvaTexture::Initialize();
    }
    void TearDown() override
    {
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
    }
};

TEST_F(MaterialTest, StartsWhiteWithNoFacesTexturesOrStates)
{
    OrvaMaterial* m = new OrvaMaterial();
    OrvaMaterialBlock b;
    m->GetMaterial(&b);
    EXPECT_EQ(b.diffuse.r, 1.0f);
    EXPECT_EQ(b.diffuse.a, 1.0f);
    EXPECT_EQ(b.ambient.g, 1.0f);
    EXPECT_EQ(b.specular.b, 0.0f);
    EXPECT_EQ(b.emissive.a, 0.0f);
    EXPECT_EQ(b.power, 0.0f);
    EXPECT_EQ(m->GetPrimitiveCount(), 0u);
    EXPECT_EQ(m->GetFirstIndex(), 0u);
    EXPECT_EQ(m->GetTexture(0), nullptr);
    EXPECT_EQ(m->GetTexture(1), nullptr);
    EXPECT_EQ(m->GetState(0), OrvaMaterial::kStateUnset);
    EXPECT_EQ(m->GetState(767), OrvaMaterial::kStateUnset);
    EXPECT_EQ(m->GetOwner(), nullptr);
    m->Release();
}

TEST_F(MaterialTest, KeepsTheBlockFaceRangeAndStates)
{
    OrvaMaterial* m = new OrvaMaterial();
    OrvaMaterialBlock b;
    b.diffuse = {0.25f, 0.5f, 0.75f, 0.125f};
    b.emissive = {1, 2, 3, 4};
    b.power = 8.0f;
    m->SetMaterial(b);
    EXPECT_EQ(m->GetMaterialPointer()->diffuse.b, 0.75f);
    OrvaMaterialBlock out;
    m->GetMaterial(&out);
    EXPECT_EQ(out.emissive.a, 4.0f);
    EXPECT_EQ(out.power, 8.0f);
    m->SetFaceRange(300, 12);
    EXPECT_EQ(m->GetFirstIndex(), 300u);
    EXPECT_EQ(m->GetPrimitiveCount(), 12u);
    m->SetState(27, 1);
    m->SetState(256 + 1, 4);
    m->SetState(512 + 1, 7);
    m->SetState(768, 9);   // past the tables: ignored
    m->SetState(-1, 9);
    EXPECT_EQ(m->GetState(27), 1u);
    EXPECT_EQ(m->GetState(257), 4u);
    EXPECT_EQ(m->GetState(513), 7u);
    EXPECT_EQ(m->GetState(768), OrvaMaterial::kStateUnset);
    EXPECT_EQ(m->GetState(-1), OrvaMaterial::kStateUnset);
    m->Release();
}

TEST_F(MaterialTest, HoldsOneReferencePerStage)
{
    OrvaTexture* a = OrvaTexture::Create(8, 8, false, nullptr);
    OrvaTexture* b = OrvaTexture::Create(8, 8, true, nullptr);
    OrvaMaterial* m = new OrvaMaterial();
    m->SetTexture(a, 0);
    m->SetTexture(b, 1);
    m->SetTexture(a, 2);    // no such stage
    m->SetTexture(b, -1);
    EXPECT_EQ(a->GetRefCount(), 2);
    EXPECT_EQ(b->GetRefCount(), 2);
    EXPECT_EQ(m->GetTexture(0), a);
    EXPECT_EQ(m->GetTexture(1), b);
    EXPECT_EQ(m->GetTexture(2), nullptr);

    // The same texture again: it must survive with the caller's reference gone.
    a->Release();
    m->SetTexture(a, 0);
    EXPECT_EQ(a->GetRefCount(), 1);
    EXPECT_EQ(a->GetWidth(), 8);

    // Null empties the stage and drops its reference.
    m->SetTexture(nullptr, 1);
    EXPECT_EQ(m->GetTexture(1), nullptr);
    EXPECT_EQ(b->GetRefCount(), 1);

    // Releasing the material releases what it holds: a goes with it.
    const int32_t before = OrvaTexture::GetCount();
    m->Release();
    EXPECT_EQ(OrvaTexture::GetCount(), before - 1);
    b->Release();
}

}  // namespace
