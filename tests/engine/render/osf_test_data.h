#pragma once
// Small OSF scenes made in memory for the scene and OSF tests.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/render/osf.h"

namespace osftest {

inline void Name(char* out, const char* name)
{
    std::snprintf(out, OrvaOsf::kNameBytes, "%s", name);
}

inline OsfKey Key(int32_t shape, float time, float value)
{
    OsfKey k;
    k.shape = shape;
    k.time = time;
    k.value = value;
    return k;
}

// A square of side 2 around the origin in the z = 0 plane, one colour,
// wound so that it faces a camera looking along +z.
inline OrvaOsf::Layer Square(uint32_t color)
{
    OrvaOsf::Layer layer;
    const float corners[4][2] = {{-1.0f, -1.0f}, {-1.0f, 1.0f}, {1.0f, 1.0f}, {1.0f, -1.0f}};
    for (const auto& c : corners) {
        OrvaSceneVertex v;
        v.x = c[0];
        v.y = c[1];
        v.color = color;
        layer.vertices.push_back(v);
    }
    layer.indices = {0, 1, 2, 2, 3, 0};
    for (int i = 0; i < 3; ++i) {
        layer.header.boxMin[i] = i < 2 ? -1.0f : 0.0f;
        layer.header.boxMax[i] = i < 2 ? 1.0f : 0.0f;
    }
    return layer;
}

inline OsfSurfaceRecord Surface(const char* texture, int32_t first, int32_t count)
{
    OsfSurfaceRecord s;
    Name(s.name, texture);
    s.firstIndex = first;
    s.indexCount = count;
    return s;
}

inline OrvaOsf::Item Item(const char* name, int32_t parentItem, int32_t parentNo)
{
    OrvaOsf::Item item;
    Name(item.record.name, name);
    item.record.kind = 1;
    item.record.parentItem = parentItem;
    item.record.parentNo = parentNo;
    return item;
}

inline void Constant(OrvaOsf::Item* item, int32_t channel, float value)
{
    item->channels[static_cast<size_t>(channel)].keys = {Key(3, 0.0f, value)};
    item->channels[static_cast<size_t>(channel)].header.preBehavior = 1;
    item->channels[static_cast<size_t>(channel)].header.postBehavior = 1;
}

// Model "square" (one layer, two surfaces on one image and a skipped empty
// one), model "pair" (two layers); camera 10 units back on z looking along
// +z; items "square" (no parent), "ghost" (no layer, child of item 0),
// "pair" (child of the camera).
inline OrvaOsf Demo()
{
    OrvaOsf doc;
    OrvaOsf::Model& square = doc.models.emplace_back();
    Name(square.record.name, "square");
    OrvaOsf::Layer layer = Square(0xFF20C040u);
    layer.surfaces = {Surface("wall", 0, 3), Surface("none", 3, 0), Surface("wall", 3, 3)};
    square.layers.push_back(layer);
    OrvaOsf::Model& pair = doc.models.emplace_back();
    Name(pair.record.name, "pair");
    pair.layers = {Square(0xFF0000FFu), Square(0xFFFF0000u)};
    pair.layers[0].surfaces = {Surface("pairs", 0, 6)};

    doc.hasScene = true;
    Name(doc.scene.name, "demo");
    doc.scene.firstFrame = 0;
    doc.scene.lastFrame = 100;
    doc.scene.frameParameterA = 7;
    doc.scene.frameParameterB = 9;
    doc.scene.aspect = 1.0f;
    doc.scene.fovA = 0.5f;
    doc.scene.fovB = 1.0f;
    doc.hasCamera = true;
    doc.camera = Item("Camera", 0, -1);
    Constant(&doc.camera, 2, -10.0f);
    doc.items = {Item("square", 0, -1), Item("ghost", 0, 0), Item("pair", 3, 5)};
    return doc;
}

inline std::vector<uint8_t> Bytes(const OrvaOsf& doc)
{
    std::vector<uint8_t> bytes;
    doc.Serialize(&bytes);
    return bytes;
}

inline void PutI32(std::vector<uint8_t>* bytes, size_t at, int32_t value)
{
    std::memcpy(bytes->data() + at, &value, 4);
}

}  // namespace osftest
