// Fuzz target: the OSF scene reader, as plain data and as a scene posed at
// a few times. Built as a libFuzzer program with clang (ORVA_LIBFUZZER);
// every build also runs it as a regression program over seeds it makes
// itself and deterministic mutations aimed at the counts the reader checks:
//
//   fuzz_osf_regression [MUTATIONS]
//   fuzz_osf_regression --write-seeds FOLDER
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/render/osf.h"
#include "engine/render/scene.h"
#include "engine/render/scene_item.h"
#include "engine/render/scene_layer.h"
#include "tests/platform/fuzz/fuzz_main_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OrvaOsf doc;
    const OrvaOsfStatus status = doc.Parse(data, size);
    // What was read is never more than the file, and writes back to bytes
    // that read again to the same data.
    std::vector<uint8_t> again;
    if (!doc.Serialize(&again)) __builtin_trap();
    size_t records = 0;
    for (const OrvaOsf::Model& m : doc.models) {
        for (const OrvaOsf::Layer& l : m.layers) {
            records += l.vertices.size() * sizeof(OrvaSceneVertex) + l.indices.size() * 2 +
                       l.surfaces.size() * sizeof(OsfSurfaceRecord);
        }
    }
    for (const OrvaOsf::Item& item : doc.items) {
        for (const OrvaOsf::Channel& c : item.channels) records += c.keys.size() * sizeof(OsfKey);
    }
    if (records > size) __builtin_trap();
    if (status == OrvaOsfStatus::Complete) {
        OrvaOsf reread;
        std::vector<uint8_t> third;
        if (again.size() > size || reread.Parse(again.data(), again.size()) != OrvaOsfStatus::Complete ||
            !reread.Serialize(&third) || third != again) {
            __builtin_trap();
        }
    }

    // The same bytes as a scene (no device: no buffers, nothing drawn).
    OrvaScene* scene = OrvaScene::LoadFromMemory(data, size, nullptr);
    if (scene == nullptr) return 0;
    for (float time : {0.0f, 37.5f, -12.0f, 1.0e9f}) {
        scene->Update(time);
    }
    for (int32_t i = 0; i < scene->GetItemCount(); ++i) {
        const OrvaSceneItem* item = scene->GetItem(0, i);
        if (item == nullptr) __builtin_trap();
        int32_t depth = 0;
        for (const OrvaSceneItem* a = item->GetParent(); a != nullptr; a = a->GetParent()) {
            if (a == item || ++depth > scene->GetItemCount() + 1) __builtin_trap();
        }
    }
    for (int32_t i = 0; i < scene->GetLayerCount(); ++i) {
        const OrvaSceneLayer* layer = scene->GetLayer(i);
        if (layer == nullptr || size_t(layer->GetVertexCount()) * sizeof(OrvaSceneVertex) > size) __builtin_trap();
    }
    scene->Draw();
    scene->Release();
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

using Bytes = std::vector<uint8_t>;

using fuzzrun::Random;

void Name(char* out, const char* name) { std::snprintf(out, OrvaOsf::kNameBytes, "%s", name); }

// models: how many; items: after the camera; keys: per channel.
Bytes Seed(int models, int items, int keys) {
    OrvaOsf doc;
    for (int m = 0; m < models; ++m) {
        OrvaOsf::Model& model = doc.models.emplace_back();
        Name(model.record.name, m % 2 ? "odd" : "even");
        for (int l = 0; l <= m % 3; ++l) {
            OrvaOsf::Layer& layer = model.layers.emplace_back();
            for (int v = 0; v < 3 + l; ++v) {
                OrvaSceneVertex vertex;
                vertex.x = float(v);
                vertex.y = float(v % 2);
                vertex.color = 0xFF808080u;
                layer.vertices.push_back(vertex);
            }
            layer.indices = {0, 1, 2};
            OsfSurfaceRecord s;
            Name(s.name, "img");
            s.indexCount = 3;
            layer.surfaces = {s, s};
            layer.header.boxMax[0] = layer.header.boxMax[1] = 2.0f;
        }
    }
    doc.hasScene = true;
    Name(doc.scene.name, "seed");
    doc.scene.aspect = 1.0f;
    doc.scene.fovB = 1.0f;
    doc.scene.lastFrame = 60;
    doc.hasCamera = true;
    doc.camera.record.parentItem = 3;
    for (int i = 0; i < items; ++i) {
        OrvaOsf::Item& item = doc.items.emplace_back();
        Name(item.record.name, i % 2 ? "odd" : "even");
        item.record.parentItem = i % 4 == 3 ? 3 : 0;
        item.record.parentNo = i - 1;
    }
    std::vector<OrvaOsf::Item*> all = {&doc.camera};
    for (OrvaOsf::Item& item : doc.items) all.push_back(&item);
    for (OrvaOsf::Item* item : all) {
        for (int c = 0; c < OrvaOsf::kChannels; ++c) {
            OrvaOsf::Channel& channel = item->channels[size_t(c)];
            channel.header.preBehavior = c % 6;
            channel.header.postBehavior = (c + 2) % 6;
            for (int k = 0; k < keys; ++k) {
                OsfKey key;
                key.shape = (k + c) % 6;
                key.time = float(k * 10);
                key.value = float((k * 7 + c) % 5);
                key.p[0] = 0.25f;
                key.p[2] = 1.0f;
                key.p[3] = 2.0f;
                channel.keys.push_back(key);
            }
        }
    }
    Bytes bytes;
    doc.Serialize(&bytes);
    return bytes;
}

void PutI32(Bytes* b, size_t at, uint32_t v) {
    if (at + 4 > b->size()) return;
    for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Mutations where the reader has something to check: the magics and
// counts near the front, any aligned word (counts, offsets, parents,
// behaviours, shapes), and the file's length.
void Mutate(Bytes* b, Random* r) {
    static const uint32_t kInteresting[] = {0,      1,       2,       3,          5,          6,          255,
                                            0xFFFF, 0x10000, 0x7FFF, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu};
    const uint32_t value = kInteresting[r->Below(14)];
    switch (r->Below(6)) {
    case 0: if (!b->empty()) (*b)[r->Below(b->size() < 8 ? b->size() : 8)] ^= uint8_t(1u << r->Below(8)); break;
    case 1: PutI32(b, 4 + 4 * r->Below(40), value); break;
    case 2: PutI32(b, 4 * r->Below(b->size() / 4 + 1), value); break;
    case 3: b->resize(r->Below(b->size() + 1)); break;
    case 4: b->resize(b->size() + 1 + r->Below(64), uint8_t(r->Next())); break;
    default: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
    const std::vector<Bytes> seeds = {Seed(0, 0, 0), Seed(1, 1, 1), Seed(2, 4, 3), Seed(3, 6, 2),
                                      Bytes{'O', 'M', 'D', 0, 0, 0, 0, 0}};
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    fuzzrun::Random random(0x9E3779B97F4A7C15ull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
