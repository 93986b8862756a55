// OSF scene files: reading every record with its counts checked, and
// writing them back.
#include "engine/render/osf.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/core/debug.h"
#include "platform/sys/path.h"

namespace {

constexpr char kModelMagic[4] = {'O', 'M', 'D', '\0'};
constexpr char kSceneMagic[4] = {'O', 'S', 'D', '\0'};

// The bytes of a file and how far a read has come; every take checks what
// is left first.
struct Cursor {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    size_t at = 0;

    uint64_t Left() const { return size - at; }
    bool Take(void* out, size_t n)
    {
        if (n > Left()) {
            return false;
        }
        std::memcpy(out, bytes + at, n);
        at += n;
        return true;
    }
    // count records of recordBytes each, copied into out; false when they
    // run past the end (nothing is taken then).
    template <typename T>
    bool TakeArray(std::vector<T>* out, int32_t count)
    {
        const uint64_t n = static_cast<uint64_t>(count) * sizeof(T);
        if (count < 0 || n > Left()) {
            return false;
        }
        out->resize(static_cast<size_t>(count));
        if (n > 0) {
            std::memcpy(out->data(), bytes + at, static_cast<size_t>(n));
        }
        at += static_cast<size_t>(n);
        return true;
    }
};

// A name is used as a C string: one without its zero ends at 64 bytes.
void Terminate(char* name)
{
    name[OrvaOsf::kNameBytes - 1] = '\0';
}

int32_t AtLeastZero(int32_t count)
{
    return count < 0 ? 0 : count;
}

OrvaOsfStatus ReadChannels(Cursor* c, bool camera, OrvaOsfVisitor* visitor, std::vector<OsfKey>* keys)
{
    for (int32_t channel = 0; channel < OrvaOsf::kChannels; ++channel) {
        OsfChannelHeader header;
        if (!c->Take(&header, sizeof header) || !c->TakeArray(keys, AtLeastZero(header.keyCount))) {
            return OrvaOsfStatus::Truncated;
        }
        visitor->OnChannel(camera, channel, header, keys->data(), static_cast<int32_t>(keys->size()));
    }
    return OrvaOsfStatus::Complete;
}

OrvaOsfStatus ReadItem(Cursor* c, bool camera, OrvaOsfVisitor* visitor, std::vector<OsfKey>* keys)
{
    OsfItemRecord item;
    if (!c->Take(&item, sizeof item)) {
        return OrvaOsfStatus::Truncated;
    }
    Terminate(item.name);
    visitor->OnItem(camera, item);
    return ReadChannels(c, camera, visitor, keys);
}

OrvaOsfStatus ReadAll(Cursor* c, OrvaOsfVisitor* visitor)
{
    char magic[4] = {};
    int32_t modelCount = 0;
    if (!c->Take(magic, sizeof magic) || std::memcmp(magic, kModelMagic, sizeof magic) != 0) {
        return OrvaOsfStatus::NotOsf;
    }
    if (!c->Take(&modelCount, sizeof modelCount)) {
        return OrvaOsfStatus::Truncated;
    }
    visitor->OnModelCount(modelCount);
    // Scratch copies: the records of the file are not aligned in it.
    std::vector<OrvaSceneVertex> vertices;
    std::vector<uint16_t> indices;
    std::vector<OsfKey> keys;
    for (int32_t m = 0; m < modelCount; ++m) {
        OsfModelRecord model;
        if (!c->Take(&model, sizeof model)) {
            return OrvaOsfStatus::Truncated;
        }
        Terminate(model.name);
        visitor->OnModel(model);
        for (int32_t l = 0; l < model.layerCount; ++l) {
            visitor->OnLayerBegin();
            OsfLayerHeader header;
            if (!c->Take(&header, sizeof header)) {
                return OrvaOsfStatus::Truncated;
            }
            visitor->OnLayerHeader(header);
            if (!c->TakeArray(&vertices, AtLeastZero(header.vertexCount)) ||
                !c->TakeArray(&indices, AtLeastZero(header.indexCount))) {
                return OrvaOsfStatus::Truncated;
            }
            visitor->OnLayerData(header, vertices.data(), static_cast<int32_t>(vertices.size()), indices.data(),
                                 static_cast<int32_t>(indices.size()));
            for (int32_t s = 0; s < header.surfaceCount; ++s) {
                OsfSurfaceRecord surface;
                if (!c->Take(&surface, sizeof surface)) {
                    return OrvaOsfStatus::Truncated;
                }
                Terminate(surface.name);
                visitor->OnSurface(surface);
            }
            visitor->OnLayerEnd();
        }
        visitor->OnModelEnd();
    }

    visitor->OnSceneBegin();
    OsfSceneHeader sceneHeader;
    if (!c->Take(&sceneHeader, sizeof sceneHeader)) {
        return OrvaOsfStatus::Truncated;
    }
    if (std::memcmp(sceneHeader.magic, kSceneMagic, sizeof kSceneMagic) != 0) {
        return OrvaOsfStatus::NotScene;
    }
    if (sceneHeader.version != OrvaOsf::kVersion) {
        return OrvaOsfStatus::WrongVersion;
    }
    OsfSceneRecord scene;
    if (!c->Take(&scene, sizeof scene)) {
        return OrvaOsfStatus::Truncated;
    }
    Terminate(scene.name);
    visitor->OnScene(scene);
    const OrvaOsfStatus status = ReadItem(c, true, visitor, &keys);
    if (status != OrvaOsfStatus::Complete) {
        return status;
    }
    for (int32_t i = 0; i < scene.itemCount; ++i) {
        const OrvaOsfStatus s = ReadItem(c, false, visitor, &keys);
        if (s != OrvaOsfStatus::Complete) {
            return s;
        }
    }
    return OrvaOsfStatus::Complete;
}

// Fills an OrvaOsf with what a read hands over.
class DocumentBuilder : public OrvaOsfVisitor {
public:
    explicit DocumentBuilder(OrvaOsf* d) : doc(d) {}
    void OnModelCount(int32_t) override {}
    void OnModel(const OsfModelRecord& model) override
    {
        doc->models.emplace_back();
        doc->models.back().record = model;
    }
    void OnLayerBegin() override {}
    void OnLayerHeader(const OsfLayerHeader&) override {}
    void OnLayerData(const OsfLayerHeader& header, const OrvaSceneVertex* vertices, int32_t vertexCount,
                     const uint16_t* indices, int32_t indexCount) override
    {
        OrvaOsf::Layer& layer = doc->models.back().layers.emplace_back();
        layer.header = header;
        layer.vertices.assign(vertices, vertices + vertexCount);
        layer.indices.assign(indices, indices + indexCount);
    }
    void OnSurface(const OsfSurfaceRecord& surface) override
    {
        doc->models.back().layers.back().surfaces.push_back(surface);
    }
    void OnLayerEnd() override {}
    void OnModelEnd() override {}
    void OnSceneBegin() override {}
    void OnScene(const OsfSceneRecord& scene) override
    {
        doc->hasScene = true;
        doc->scene = scene;
    }
    void OnItem(bool camera, const OsfItemRecord& record) override
    {
        if (camera) {
            doc->hasCamera = true;
            item = &doc->camera;
        } else {
            item = &doc->items.emplace_back();
        }
        item->record = record;
    }
    void OnChannel(bool, int32_t channel, const OsfChannelHeader& header, const OsfKey* keys,
                   int32_t keyCount) override
    {
        OrvaOsf::Channel& c = item->channels[static_cast<size_t>(channel)];
        c.header = header;
        c.keys.assign(keys, keys + keyCount);
        item->channelsRead = channel + 1;
    }

private:
    OrvaOsf* doc = nullptr;
    OrvaOsf::Item* item = nullptr;
};

void AppendBytes(std::vector<uint8_t>* out, const void* bytes, size_t n)
{
    if (n == 0) {
        return;
    }
    const size_t at = out->size();
    out->resize(at + n);
    std::memcpy(out->data() + at, bytes, n);
}

template <typename T>
void Append(std::vector<uint8_t>* out, const T& record)
{
    AppendBytes(out, &record, sizeof(T));
}

template <typename T>
void AppendArray(std::vector<uint8_t>* out, const std::vector<T>& records)
{
    AppendBytes(out, records.data(), records.size() * sizeof(T));
}

void AppendItem(std::vector<uint8_t>* out, const OrvaOsf::Item& item)
{
    Append(out, item.record);
    for (const OrvaOsf::Channel& channel : item.channels) {
        OsfChannelHeader header = channel.header;
        header.keyCount = static_cast<int32_t>(channel.keys.size());
        Append(out, header);
        AppendArray(out, channel.keys);
    }
}

}  // namespace

OrvaOsfStatus OrvaOsf::Read(const uint8_t* bytes, size_t size, OrvaOsfVisitor* visitor)
{
    if (visitor == nullptr || (bytes == nullptr && size > 0)) {
        return OrvaOsfStatus::NotOsf;
    }
    Cursor cursor{bytes, size, 0};
    try {
        return ReadAll(&cursor, visitor);
    } catch (const std::bad_alloc&) {
        // The copies are never larger than the file, but a file can be larger
        // than the memory left.
        OrvaDebug::Log("ERROR : OSFファイルのメモリを確保できません\n");
        return OrvaOsfStatus::Truncated;
    }
}

void OrvaOsf::Clear()
{
    models.clear();
    hasScene = false;
    sceneHeader = OsfSceneHeader{};
    scene = OsfSceneRecord{};
    hasCamera = false;
    camera = Item{};
    items.clear();
    status = OrvaOsfStatus::Complete;
}

OrvaOsfStatus OrvaOsf::Parse(const uint8_t* bytes, size_t size)
{
    Clear();
    DocumentBuilder builder(this);
    status = Read(bytes, size, &builder);
    return status;
}

bool OrvaOsf::Serialize(std::vector<uint8_t>* out) const
{
    if (out == nullptr) {
        return false;
    }
    out->clear();
    AppendBytes(out, kModelMagic, sizeof kModelMagic);
    Append(out, static_cast<int32_t>(models.size()));
    for (const Model& model : models) {
        OsfModelRecord record = model.record;
        record.layerCount = static_cast<int32_t>(model.layers.size());
        Append(out, record);
        for (const Layer& layer : model.layers) {
            OsfLayerHeader header = layer.header;
            header.vertexCount = static_cast<int32_t>(layer.vertices.size());
            header.indexCount = static_cast<int32_t>(layer.indices.size());
            header.surfaceCount = static_cast<int32_t>(layer.surfaces.size());
            Append(out, header);
            AppendArray(out, layer.vertices);
            AppendArray(out, layer.indices);
            AppendArray(out, layer.surfaces);
        }
    }
    if (!hasScene) {
        return true;
    }
    Append(out, sceneHeader);
    OsfSceneRecord record = scene;
    record.itemCount = static_cast<int32_t>(items.size());
    Append(out, record);
    if (!hasCamera) {
        return true;
    }
    AppendItem(out, camera);
    for (const Item& item : items) {
        AppendItem(out, item);
    }
    return true;
}

bool OrvaOsf::Save(const char* fileName) const
{
    std::vector<uint8_t> bytes;
    Serialize(&bytes);
    const std::string path = platform::HostPath(fileName);
    FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        OrvaDebug::Log("ERROR : ファイル[%s]に書けません\n", fileName != nullptr ? fileName : "(null)");
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        OrvaDebug::Log("ERROR : ファイル[%s]に書けません\n", fileName);
        return false;
    }
    return true;
}
