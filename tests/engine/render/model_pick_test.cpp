#include "engine/render/model_pick.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/core/math.h"
#include "engine/render/model.h"
#include "tests/engine/render/mesh_fixture.h"

namespace {

using meshtest::MeshFixture;

std::string Num(float v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    return text;
}

struct Tri {
    float p[3][3];
};

// An X-file mesh of separate triangles (three vertices each, in order).
std::string MeshText(const std::string& name, const std::vector<Tri>& tris)
{
    std::string s = "Mesh " + name + " {\n" + std::to_string(tris.size() * 3) + ";\n";
    for (size_t t = 0; t < tris.size(); ++t) {
        for (int k = 0; k < 3; ++k) {
            s += Num(tris[t].p[k][0]) + ";" + Num(tris[t].p[k][1]) + ";" + Num(tris[t].p[k][2]) + ";";
            s += (t + 1 == tris.size() && k == 2) ? ";\n" : ",\n";
        }
    }
    s += std::to_string(tris.size()) + ";\n";
    for (size_t t = 0; t < tris.size(); ++t) {
        const size_t i = 3 * t;
        s += "3;" + std::to_string(i) + "," + std::to_string(i + 1) + "," + std::to_string(i + 2) + ";";
        s += t + 1 == tris.size() ? ";\n" : ",\n";
    }
    return s + "}\n";
}

// The two triangles of the square -1..1 in x and y at depth z, shifted by
// dx, facing -z: face 0 the upper-left half, face 1 the lower-right.
std::vector<Tri> Quad(float dx = 0.0f, float z = 0.0f)
{
    return {Tri{{{dx - 1, -1, z}, {dx - 1, 1, z}, {dx + 1, 1, z}}},
            Tri{{{dx - 1, -1, z}, {dx + 1, 1, z}, {dx + 1, -1, z}}}};
}

// A closed box from lo to hi: its bounds are all the collision tests read,
// but it is a real solid so that a pick could see it too.
std::vector<Tri> Box(float lx, float ly, float lz, float hx, float hy, float hz)
{
    auto corner = [&](int i, float* out) {
        out[0] = (i & 1) ? hx : lx;
        out[1] = (i & 2) ? hy : ly;
        out[2] = (i & 4) ? hz : lz;
    };
    const int faces[12][3] = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 4, 6}, {0, 6, 2},
                              {1, 3, 7}, {1, 7, 5}, {2, 6, 7}, {2, 7, 3}, {0, 1, 5}, {0, 5, 4}};
    std::vector<Tri> tris;
    for (const auto& f : faces) {
        Tri t{};
        for (int k = 0; k < 3; ++k) corner(f[k], t.p[k]);
        tris.push_back(t);
    }
    return tris;
}

OrvaMatrix Placement(float x, float y, float z, float angleZ = 0.0f)
{
    OrvaMatrix m;
    m.Identity();
    const float c = std::cos(angleZ), s = std::sin(angleZ);
    m.SetElement(1, 1, c);
    m.SetElement(1, 2, s);
    m.SetElement(2, 1, -s);
    m.SetElement(2, 2, c);
    m.SetElement(4, 1, x);
    m.SetElement(4, 2, y);
    m.SetElement(4, 3, z);
    return m;
}

void ExpectVector(const OrvaVector& v, float x, float y, float z, const char* what)
{
    EXPECT_NEAR(v.x, x, 1e-5f) << what;
    EXPECT_NEAR(v.y, y, 1e-5f) << what;
    EXPECT_NEAR(v.z, z, 1e-5f) << what;
}

class OrvaModelPickTest : public MeshFixture {
protected:
    void SetUp() override
    {
        MeshFixture::SetUp();
        OrvaMath::Initialize();
        ASSERT_TRUE(OrvaModel::Initialize());
        OrvaModel::ClearHitTable();
    }
    void TearDown() override
    {
        OrvaModel::Destroy();
        MeshFixture::TearDown();
    }
    // A model whose meshes sit on no frame, so that each mesh's world is
    // the model's.
    OrvaModel* Make(const std::string& meshes)
    {
        OrvaModel* model = OrvaModel::Create();
        EXPECT_NE(model, nullptr);
        EXPECT_NE(model->CreateRootFrame("MASTER_FRAME"), nullptr);
        const xtest::Bytes bytes = xtest::Text(meshes.c_str());
        platform::XFile xfile;
        EXPECT_TRUE(xfile.Parse(bytes.data(), bytes.size(), &error)) << error;
        model->LoadFromXof(xfile, nullptr);
        model->Update(0.0f);
        return model;
    }
    static bool Pick(OrvaModel* model, int32_t mesh, OrvaVector from, OrvaVector to, int32_t twoSided = 0,
                     int32_t normals = 1)
    {
        return OrvaModel::RayPick(model, mesh, &from, &to, twoSided, normals);
    }
    static std::vector<uint32_t> Faces(int32_t slot)
    {
        std::vector<uint32_t> out(OrvaMeshHits::kMaxHits + 1, 0xDEADu);
        out.resize(OrvaModel::GetHitFaces(slot, out.data()));
        return out;
    }
    static std::vector<uint32_t> HitMeshes()
    {
        std::vector<uint32_t> out(OrvaModelHitTable::kMaxMeshes + 1, 0xDEADu);
        out.resize(OrvaModel::GetHitMeshes(out.data()));
        return out;
    }
};

// ---------------------------------------------------------------- picking

TEST_F(OrvaModelPickTest, SegmentThroughAQuadHitsItsFrontFaceOnly)
{
    OrvaModel* model = Make(MeshText("Quad", Quad()));
    ASSERT_EQ(model->GetMeshCount(), 1);
    const OrvaVector front(-0.5f, 0.5f, -10.0f), back(-0.5f, 0.5f, 10.0f);

    ASSERT_TRUE(Pick(model, -1, front, back));
    EXPECT_EQ(HitMeshes(), std::vector<uint32_t>{0});
    EXPECT_EQ(Faces(0), std::vector<uint32_t>{0});
    OrvaVector local, world, localNormal, worldNormal;
    ASSERT_TRUE(OrvaModel::GetHitPosition(0, 0, &local, &world));
    ExpectVector(local, -0.5f, 0.5f, 0.0f, "local");
    ExpectVector(world, -0.5f, 0.5f, 0.0f, "world");
    ASSERT_TRUE(OrvaModel::GetHitNormal(0, 0, &localNormal, &worldNormal));
    ExpectVector(localNormal, 0.0f, 0.0f, -1.0f, "local normal");
    ExpectVector(worldNormal, 0.0f, 0.0f, -1.0f, "world normal");

    // From behind: nothing, unless both sides count; the normal keeps the
    // triangle's own winding.
    EXPECT_FALSE(Pick(model, -1, back, front));
    EXPECT_EQ(OrvaModel::GetHitMeshes(nullptr), 0u);
    ASSERT_TRUE(Pick(model, 0, back, front, 1));
    EXPECT_EQ(Faces(0), std::vector<uint32_t>{0});
    ASSERT_TRUE(OrvaModel::GetHitNormal(0, 0, &localNormal, nullptr));
    ExpectVector(localNormal, 0.0f, 0.0f, -1.0f, "normal from behind");

    // Without normals asked for they stay zero.
    ASSERT_TRUE(Pick(model, -1, front, back, 0, 0));
    ASSERT_TRUE(OrvaModel::GetHitNormal(0, 0, &localNormal, &worldNormal));
    ExpectVector(localNormal, 0.0f, 0.0f, 0.0f, "no local normal");
    ExpectVector(worldNormal, 0.0f, 0.0f, 0.0f, "no world normal");
}

TEST_F(OrvaModelPickTest, SegmentEndsAndTriangleEdgesBoundTheHits)
{
    OrvaModel* model = Make(MeshText("Quad", Quad()));
    // A slope z = y, so that a segment ending before it still overlaps its
    // bounds: at (-0.5, 0.5) it lies at z 0.5.
    OrvaModel* slope = Make(MeshText("Slope", {Tri{{{-1, -1, -1}, {-1, 1, 1}, {1, 1, 1}}}}));
    EXPECT_FALSE(Pick(slope, -1, OrvaVector(-0.5f, 0.5f, -10.0f), OrvaVector(-0.5f, 0.5f, 0.0f)));
    ASSERT_TRUE(Pick(slope, -1, OrvaVector(-0.5f, 0.5f, -10.0f), OrvaVector(-0.5f, 0.5f, 0.5f)));
    OrvaVector local;
    ASSERT_TRUE(OrvaModel::GetHitPosition(0, 0, &local, nullptr));
    ExpectVector(local, -0.5f, 0.5f, 0.5f, "on the slope");
    // Ending 0.5 before the quad, or of no length on it: no hit. Ending on
    // it: a hit.
    EXPECT_FALSE(Pick(model, -1, OrvaVector(-0.5f, 0.5f, -10.0f), OrvaVector(-0.5f, 0.5f, -0.5f)));
    EXPECT_FALSE(Pick(model, -1, OrvaVector(-0.5f, 0.5f, 0.0f), OrvaVector(-0.5f, 0.5f, 0.0f), 1));
    EXPECT_TRUE(Pick(model, -1, OrvaVector(-0.5f, 0.5f, -10.0f), OrvaVector(-0.5f, 0.5f, 0.0f)));
    // Beside the quad: no hit.
    EXPECT_FALSE(Pick(model, -1, OrvaVector(1.5f, 0.5f, -10.0f), OrvaVector(1.5f, 0.5f, 10.0f)));
    // The lower-right half is face 1.
    ASSERT_TRUE(Pick(model, -1, OrvaVector(0.5f, -0.5f, -10.0f), OrvaVector(0.5f, -0.5f, 10.0f)));
    EXPECT_EQ(Faces(0), std::vector<uint32_t>{1});

    // Inside the triangle's parallelogram but beyond its long edge
    // (u, v <= 1, u + v > 1): no hit; just inside it: a hit.
    const OrvaVector a(-1, -1, 0), b(-1, 1, 0), c(1, 1, 0), dir(0, 0, 1);
    float t = -1.0f, u = -1.0f, v = -1.0f;
    EXPECT_FALSE(OrvaModel::RayTriangle(OrvaVector(0.5f, 2.0f, -1.0f), dir, a, b, c, &t, &u, &v));
    EXPECT_EQ(t, -1.0f);
    ASSERT_TRUE(OrvaModel::RayTriangle(OrvaVector(0.5f, 0.9f, -1.0f), dir, a, b, c, &t, &u, &v));
    EXPECT_NEAR(t, 1.0f, 1e-6f);
    EXPECT_NEAR(u, 0.2f, 1e-6f);
    EXPECT_NEAR(v, 0.75f, 1e-6f);
    // From behind, or edge-on, the test fails.
    EXPECT_FALSE(OrvaModel::RayTriangle(OrvaVector(0.5f, 0.9f, 1.0f), OrvaVector(0, 0, -1), a, b, c, &t, &u, &v));
    EXPECT_FALSE(OrvaModel::RayTriangle(OrvaVector(-5.0f, 0.9f, 0.0f), OrvaVector(1, 0, 0), a, b, c, &t, &u, &v));
}

TEST_F(OrvaModelPickTest, PlacedMeshIsPickedInItsOwnSpace)
{
    OrvaModel* model = Make(MeshText("Quad", Quad()));
    model->SetScale(2.0f, 2.0f, 2.0f);
    model->SetPosition(3.0f, 0.0f, 5.0f);
    model->Update(0.0f);
    // Local (-0.5, 0.5, 0) lies at world (2, 1, 5).
    ASSERT_TRUE(Pick(model, -1, OrvaVector(2.0f, 1.0f, 0.0f), OrvaVector(2.0f, 1.0f, 10.0f)));
    OrvaVector local, world, localNormal, worldNormal;
    ASSERT_TRUE(OrvaModel::GetHitPosition(0, 0, &local, &world));
    ExpectVector(local, -0.5f, 0.5f, 0.0f, "local");
    ExpectVector(world, 2.0f, 1.0f, 5.0f, "world");
    ASSERT_TRUE(OrvaModel::GetHitNormal(0, 0, &localNormal, &worldNormal));
    ExpectVector(localNormal, 0.0f, 0.0f, -1.0f, "local normal");
    // Through the scaled world, not normalised again.
    ExpectVector(worldNormal, 0.0f, 0.0f, -2.0f, "world normal");
    // The segment ending 1 world unit (0.5 local) before the quad misses.
    EXPECT_FALSE(Pick(model, -1, OrvaVector(2.0f, 1.0f, 0.0f), OrvaVector(2.0f, 1.0f, 4.0f)));

    // A flattened placement has no inverse: nothing to hit.
    model->SetScale(0.0f, 0.0f, 0.0f);
    model->Update(0.0f);
    EXPECT_FALSE(Pick(model, -1, OrvaVector(3.0f, 0.0f, 0.0f), OrvaVector(3.0f, 0.0f, 10.0f), 1));
}

TEST_F(OrvaModelPickTest, ModelsOfAnySizeAreHitByTheSameRays)
{
    // An ellipsoid whose triangles are about 0.2 across at scale 1, 0.0002
    // at 0.001, seen from a point in front through the centres of 24 x 24
    // pixels: every scale hits the same faces at the same places, scaled.
    struct Ray {
        std::vector<uint32_t> faces;
        OrvaVector first;
    };
    auto look = [&](float scale) {
        OrvaModel* model = OrvaModel::CreateSphere(scale, 0.8f * scale, 0.6f * scale, 12, 16, nullptr);
        model->Update(0.0f);
        std::vector<Ray> rays;
        const OrvaVector eye(0.0f, 0.0f, -4.0f * scale);
        for (int row = 0; row < 24; ++row) {
            for (int column = 0; column < 24; ++column) {
                const float x = (0.1f * float(column) - 1.15f) * scale;
                const float y = (1.15f - 0.1f * float(row)) * scale;
                // Through the pixel on the plane z = 0, on to twice as far.
                const OrvaVector far(2.0f * x, 2.0f * y, 4.0f * scale);
                Ray ray;
                if (Pick(model, -1, eye, far)) {
                    ray.faces = Faces(0);
                    EXPECT_TRUE(OrvaModel::GetHitPosition(0, 0, nullptr, &ray.first));
                }
                rays.push_back(ray);
            }
        }
        model->Release();
        return rays;
    };
    const std::vector<Ray> unit = look(1.0f);
    int hit = 0;
    for (const Ray& ray : unit) hit += ray.faces.empty() ? 0 : 1;
    // The ellipse the rays see covers about 250 of the 576 pixels.
    EXPECT_GT(hit, 220);
    for (float scale : {0.001f, 1000.0f}) {
        const std::vector<Ray> scaled = look(scale);
        ASSERT_EQ(scaled.size(), unit.size());
        int same = 0;
        for (size_t i = 0; i < unit.size(); ++i) {
            EXPECT_EQ(scaled[i].faces, unit[i].faces) << "scale " << scale << ", ray " << i;
            if (scaled[i].faces != unit[i].faces || unit[i].faces.empty()) continue;
            const OrvaVector& p = scaled[i].first;
            ExpectVector(OrvaVector(p.x / scale, p.y / scale, p.z / scale), unit[i].first.x, unit[i].first.y,
                         unit[i].first.z, "first hit, scaled back");
            ++same;
        }
        EXPECT_EQ(same, hit) << "scale " << scale;
    }
}

TEST_F(OrvaModelPickTest, GrazingRaysAndFlatTrianglesAreRefusedAtEveryScale)
{
    // A right triangle with legs of the scale, facing +z, and a ray along
    // +x dipping towards its centre at the given sine against its plane:
    // the limit lies at 0.0001 whatever the triangle's size.
    struct Case {
        float sine;
        bool hits;
    };
    const Case cases[] = {{1.0f, true}, {0.0002f, true}, {0.00005f, false}, {0.0f, false}, {-0.0002f, false}};
    for (float scale : {0.001f, 1.0f, 1000.0f}) {
        const OrvaVector a(0, 0, 0), b(scale, 0, 0), c(0, scale, 0);
        const OrvaVector centre(scale / 3.0f, scale / 3.0f, 0.0f);
        float t = -1.0f, u = -1.0f, v = -1.0f;
        for (const Case& k : cases) {
            const float along = std::sqrt(1.0f - k.sine * k.sine);
            const OrvaVector dir(along, 0.0f, -k.sine);
            const OrvaVector origin(centre.x - 2.0f * scale * dir.x, centre.y, centre.z - 2.0f * scale * dir.z);
            ASSERT_EQ(OrvaModel::RayTriangle(origin, dir, a, b, c, &t, &u, &v), k.hits)
                << "scale " << scale << ", sine " << k.sine;
            if (k.hits) {
                EXPECT_NEAR(t / scale, 2.0f, 1e-4f);
                EXPECT_NEAR(u, 1.0f / 3.0f, 1e-4f);
                EXPECT_NEAR(v, 1.0f / 3.0f, 1e-4f);
            }
        }
        // Triangles without area: a line, and two corners in one place.
        const OrvaVector down(0, 0, -1), above(scale / 2.0f, 0.0f, scale);
        EXPECT_FALSE(OrvaModel::RayTriangle(above, down, a, b, OrvaVector(2.0f * scale, 0, 0), &t, &u, &v));
        EXPECT_FALSE(OrvaModel::RayTriangle(above, down, a, a, c, &t, &u, &v));
    }
}

TEST_F(OrvaModelPickTest, HitsKeepTriangleOrderAndMeshSlotsFollowTheHitMeshes)
{
    // Face 0 lies behind face 1 as the segment runs: hits stay in face order.
    std::vector<Tri> layered = Quad(0.0f, 5.0f);
    layered.resize(1);
    layered.push_back(Quad(0.0f, 0.0f)[0]);
    OrvaModel* model = Make(MeshText("Far", Quad(10.0f)) + MeshText("Mid", Quad(20.0f, 10.0f)) +
                            MeshText("Layered", layered));
    ASSERT_EQ(model->GetMeshCount(), 3);
    const OrvaVector from(-0.5f, 0.5f, -10.0f), to(-0.5f, 0.5f, 10.0f);

    ASSERT_TRUE(Pick(model, -1, from, to));
    EXPECT_EQ(HitMeshes(), std::vector<uint32_t>{2});
    EXPECT_EQ(Faces(0), (std::vector<uint32_t>{0, 1}));
    OrvaVector world;
    ASSERT_TRUE(OrvaModel::GetHitPosition(0, 0, nullptr, &world));
    ExpectVector(world, -0.5f, 0.5f, 5.0f, "first hit");
    ASSERT_TRUE(OrvaModel::GetHitPosition(0, 1, nullptr, &world));
    ExpectVector(world, -0.5f, 0.5f, 0.0f, "second hit");

    // One mesh by index; an index outside the list means every mesh.
    EXPECT_FALSE(Pick(model, 1, from, to));
    EXPECT_TRUE(Pick(model, 2, from, to));
    EXPECT_EQ(HitMeshes(), std::vector<uint32_t>{2});
    EXPECT_TRUE(Pick(model, 3, from, to));
    EXPECT_EQ(HitMeshes(), std::vector<uint32_t>{2});

    // Two hit meshes fill slots 0 and 1 in list order: the slanted segment
    // meets Far at (10, 0.5, 0) and Mid at (20, 0.5, 10).
    ASSERT_TRUE(Pick(model, -1, OrvaVector(0.0f, 0.5f, -10.0f), OrvaVector(30.0f, 0.5f, 20.0f)));
    EXPECT_EQ(HitMeshes(), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(Faces(0), std::vector<uint32_t>{0});
    EXPECT_EQ(Faces(1), std::vector<uint32_t>{0});
    ASSERT_TRUE(OrvaModel::GetHitPosition(1, 0, nullptr, &world));
    ExpectVector(world, 20.0f, 0.5f, 10.0f, "second mesh");

    // A pick that finds nothing clears the last results.
    EXPECT_FALSE(Pick(model, -1, OrvaVector(50.0f, 0.0f, -10.0f), OrvaVector(50.0f, 0.0f, 10.0f), 1));
    EXPECT_EQ(HitMeshes(), std::vector<uint32_t>{});
    EXPECT_EQ(OrvaModel::GetHitFaces(0, nullptr), 0u);
    EXPECT_FALSE(OrvaModel::GetHitPosition(0, 0, &world, nullptr));
    // So does a pick with nothing to pick.
    ASSERT_TRUE(Pick(model, -1, from, to));
    EXPECT_FALSE(OrvaModel::RayPick(nullptr, -1, &from, &to, 1, 1));
    EXPECT_EQ(OrvaModel::GetHitMeshes(nullptr), 0u);
}

TEST_F(OrvaModelPickTest, HitCountsSaturateAt256)
{
    // 300 stacked triangles under one segment: the first 256 are kept.
    std::vector<Tri> stack;
    for (int i = 0; i < 300; ++i) stack.push_back(Quad(0.0f, 0.01f * float(i))[0]);
    // 258 meshes that are all hit: the table keeps the first 256.
    std::string many;
    for (int i = 0; i < 258; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "M%d", i);
        many += MeshText(name, Quad(0.0f, float(i)));
    }
    OrvaModel* stacked = Make(MeshText("Stack", stack));
    OrvaModel* crowd = Make(many);
    ASSERT_EQ(crowd->GetMeshCount(), 258);
    const OrvaVector from(-0.5f, 0.5f, -10.0f), to(-0.5f, 0.5f, 400.0f);

    ASSERT_TRUE(Pick(stacked, -1, from, to));
    const std::vector<uint32_t> faces = Faces(0);
    ASSERT_EQ(faces.size(), 256u);
    for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(faces[i], i);
    OrvaVector world;
    ASSERT_TRUE(OrvaModel::GetHitPosition(0, 255, nullptr, &world));
    EXPECT_NEAR(world.z, 2.55f, 1e-4f);
    EXPECT_FALSE(OrvaModel::GetHitPosition(0, 256, &world, &world));

    ASSERT_TRUE(Pick(crowd, -1, from, to));
    const std::vector<uint32_t> meshes = HitMeshes();
    ASSERT_EQ(meshes.size(), 256u);
    for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(meshes[i], i);
    ASSERT_TRUE(OrvaModel::GetHitPosition(255, 0, nullptr, &world));
    EXPECT_NEAR(world.z, 255.0f, 1e-4f);
    EXPECT_EQ(OrvaModel::GetHitFaces(256, nullptr), 0u);
    // The last mesh alone still fits.
    ASSERT_TRUE(Pick(crowd, 257, from, to));
    EXPECT_EQ(HitMeshes(), std::vector<uint32_t>{257});
}

TEST_F(OrvaModelPickTest, ReadersRejectSlotsAndHitsOutsideTheLastPick)
{
    OrvaModel* model = Make(MeshText("Quad", Quad()));
    ASSERT_TRUE(Pick(model, -1, OrvaVector(-0.5f, 0.5f, -10.0f), OrvaVector(-0.5f, 0.5f, 10.0f)));
    const OrvaVector mark(7.0f, 7.0f, 7.0f);
    OrvaVector a = mark, b = mark;
    const int32_t bad[][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {0x7FFFFFFF, 0}, {0, 256}};
    for (const auto& sh : bad) {
        EXPECT_FALSE(OrvaModel::GetHitPosition(sh[0], sh[1], &a, &b)) << sh[0] << " " << sh[1];
        EXPECT_FALSE(OrvaModel::GetHitNormal(sh[0], sh[1], &a, &b)) << sh[0] << " " << sh[1];
    }
    ExpectVector(a, 7.0f, 7.0f, 7.0f, "untouched");
    ExpectVector(b, 7.0f, 7.0f, 7.0f, "untouched");
    uint32_t face = 99;
    EXPECT_EQ(OrvaModel::GetHitFaces(-1, &face), 0u);
    EXPECT_EQ(OrvaModel::GetHitFaces(1, &face), 0u);
    EXPECT_EQ(face, 99u);
    EXPECT_EQ(OrvaModel::GetHitFaces(0, nullptr), 1u);
    EXPECT_TRUE(OrvaModel::GetHitPosition(0, 0, nullptr, nullptr));

    // A restarted module starts with an empty table.
    OrvaModel::Destroy();
    ASSERT_TRUE(OrvaModel::Initialize());
    EXPECT_EQ(OrvaModel::GetHitMeshes(nullptr), 0u);
    EXPECT_FALSE(OrvaModel::GetHitPosition(0, 0, nullptr, nullptr));
}

TEST_F(OrvaModelPickTest, ScreenPickRunsThroughThePixelToTheFarEnd)
{
    // The fixture's camera: one unit per pixel, world x = column - 8,
    // y = 8 - row, depth 0 to 10. The quad stands at depth 5.
    OrvaModel* model = Make(MeshText("Quad", Quad()));
    model->SetPosition(0.0f, 0.0f, 5.0f);
    model->Update(0.0f);
    OrvaVector screen(7.5f, 7.5f, 0.0f);
    ASSERT_TRUE(OrvaModel::ScreenPick(model, -1, &screen, 0, 1));
    OrvaVector local, world;
    ASSERT_TRUE(OrvaModel::GetHitPosition(0, 0, &local, &world));
    ExpectVector(local, -0.5f, 0.5f, 0.0f, "local");
    ExpectVector(world, -0.5f, 0.5f, 5.0f, "world");
    EXPECT_EQ(Faces(0), std::vector<uint32_t>{0});

    // Away from the quad, or starting past it, or at depth 1: no hit.
    screen.Set(12.0f, 8.0f, 0.0f);
    EXPECT_FALSE(OrvaModel::ScreenPick(model, -1, &screen, 1, 1));
    screen.Set(8.5f, 8.5f, 0.6f);
    EXPECT_FALSE(OrvaModel::ScreenPick(model, -1, &screen, 1, 1));
    screen.Set(8.5f, 8.5f, 0.4f);
    ASSERT_TRUE(OrvaModel::ScreenPick(model, -1, &screen, 0, 1));
    EXPECT_EQ(Faces(0), std::vector<uint32_t>{1});
    screen.Set(8.5f, 8.5f, 1.0f);
    EXPECT_FALSE(OrvaModel::ScreenPick(model, -1, &screen, 1, 1));
    EXPECT_FALSE(OrvaModel::ScreenPick(model, -1, nullptr, 1, 1));
}

TEST_F(OrvaModelPickTest, PickingTestsTheAttachedModelsMeshes)
{
    OrvaModel* owner = Make(MeshText("Elsewhere", Quad(40.0f)));
    OrvaModel* shared = Make(MeshText("Quad", Quad()));
    ASSERT_TRUE(shared->ReleaseMeshBuffers());
    ASSERT_TRUE(owner->Attach(shared));
    const OrvaVector from(-0.5f, 0.5f, -10.0f), to(-0.5f, 0.5f, 10.0f);
    EXPECT_TRUE(Pick(owner, -1, from, to));
    EXPECT_FALSE(Pick(owner, -1, OrvaVector(40.0f, 0.5f, -10.0f), OrvaVector(40.0f, 0.5f, 10.0f)));
}

// ---------------------------------------------------------------- collision

TEST_F(OrvaModelPickTest, SphereAndBoxCollisionMeetAtTheirBounds)
{
    OrvaModel* a = Make(MeshText("Cube", Box(-1, -1, -1, 1, 1, 1)));
    OrvaModel* b = Make(MeshText("Cube", Box(-1, -1, -1, 1, 1, 1)));
    ASSERT_NEAR(a->GetMesh(0)->GetRadius(), 1.0f, 1e-6f);
    auto at = [&](float x) {
        b->SetPosition(x, 0.0f, 0.0f);
        b->Update(0.0f);
    };
    at(2.0f);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideSphere, a, 0, b, 0), 0);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, a, 0, b, 0), 1);
    at(1.999f);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideSphere, a, 0, b, 0), 1);
    at(2.001f);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, a, 0, b, 0), 0);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, b, 0, a, 0), 0);
    b->SetPosition(0.0f, -2.001f, 0.0f);
    b->Update(0.0f);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, a, 0, b, 0), 0);
    b->SetPosition(0.5f, 0.5f, 1.9f);
    b->Update(0.0f);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, a, 0, b, 0), 1);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideSphere, a, 0, b, 0), 0);

    // Bad indices, missing models and unknown kinds give 0.
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, a, 1, b, 0), 0);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, a, 0, b, -1), 0);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, nullptr, 0, b, 0), 0);
    EXPECT_EQ(OrvaModel::CheckCollision(3, a, 0, b, 0), 0);
    EXPECT_EQ(OrvaModel::CheckCollision(-1, a, 0, b, 0), 0);
}

TEST_F(OrvaModelPickTest, BoxCollisionKeepsOffCentreBoxesWhereTheyAre)
{
    // Unmoved, x 0..4 and x 3..5 overlap and x 0..4 and x 4.5..6.5 do not:
    // the boxes stay where the meshes are drawn.
    OrvaModel* a = Make(MeshText("Left", Box(0, 0, 0, 4, 1, 1)));
    OrvaModel* b = Make(MeshText("Right", Box(3, 0, 0, 5, 1, 1)));
    OrvaModel* c = Make(MeshText("Apart", Box(4.5f, 0, 0, 6.5f, 1, 1)));
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, a, 0, b, 0), 1);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, a, 0, c, 0), 0);
    // Moved by the placement: c 5 to the left covers x -0.5..1.5.
    c->SetPosition(-5.0f, 0.0f, 0.0f);
    c->Update(0.0f);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, a, 0, c, 0), 1);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, b, 0, c, 0), 0);
}

TEST_F(OrvaModelPickTest, OrientedBoxCollisionFollowsRotationBothWays)
{
    OrvaModel* cube = Make(MeshText("Cube", Box(-1, -1, -1, 1, 1, 1)));
    OrvaModel* turned = Make(MeshText("Cube", Box(-1, -1, -1, 1, 1, 1)));
    const float quarterPi = 0.78539816f;
    // Turned 45 degrees about z, its near corner reaches x = 2.3 - 1.414:
    // inside the cube, though the unturned boxes stay apart.
    turned->UpdateWithMatrix(Placement(2.3f, 0.0f, 0.0f, quarterPi));
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideOrientedBox, cube, 0, turned, 0), 1);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideOrientedBox, turned, 0, cube, 0), 1);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideBox, cube, 0, turned, 0), 0);
    // At 2.5 the corner stays outside. Only the cube's face x = 1 parts
    // them: none of the turned box's faces has every cube corner outside.
    turned->UpdateWithMatrix(Placement(2.5f, 0.0f, 0.0f, quarterPi));
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideOrientedBox, cube, 0, turned, 0), 0);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideOrientedBox, turned, 0, cube, 0), 0);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideSphere, cube, 0, turned, 0), 0);

    // A thin rod through the cube's middle: no corner of either inside the
    // other and no cube edge through the rod, yet they meet.
    OrvaModel* rod = Make(MeshText("Rod", Box(-2.0f, -0.1f, -0.1f, 2.0f, 0.1f, 0.1f)));
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideOrientedBox, rod, 0, cube, 0), 1);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideOrientedBox, cube, 0, rod, 0), 1);
    rod->SetPosition(0.0f, 1.5f, 0.0f);
    rod->Update(0.0f);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideOrientedBox, rod, 0, cube, 0), 0);
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideOrientedBox, cube, 0, rod, 0), 0);

    // Collision leaves the hit table alone.
    ASSERT_TRUE(Pick(cube, -1, OrvaVector(0.0f, 0.0f, -10.0f), OrvaVector(0.0f, 0.0f, 10.0f)));
    EXPECT_EQ(OrvaModel::CheckCollision(kOrvaCollideOrientedBox, cube, 0, turned, 0), 0);
    EXPECT_EQ(HitMeshes(), std::vector<uint32_t>{0});
}

}  // namespace
