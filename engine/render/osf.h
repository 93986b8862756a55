#pragma once
// OSF scene files: the geometry of every model, then one animated scene (its
// frame range, camera lens, a camera item and further items, each with nine
// key-frame channels). Little-endian, no padding; names are char[64].
//
//   model header      8   "OMD\0", i32 model count
//   per model        68   OsfModelRecord, then layer-count layers:
//     layer header   36   OsfLayerHeader
//     vertices       24 x vertex count   OrvaSceneVertex
//     indices         2 x index count    u16, a triangle list
//     surfaces       72 x surface count  OsfSurfaceRecord
//   scene header     16   "OSD\0", i32 version 0x10000, 8 reserved bytes
//   scene record     96   OsfSceneRecord
//   camera item      92   OsfItemRecord, then nine channels
//   items            item count x (OsfItemRecord, nine channels)
//   channel          12   OsfChannelHeader, then key count x 36 OsfKey
//
// Nothing after the last item is read. OrvaOsf::Read walks the bytes and
// hands every record to a visitor in file order as soon as it is complete,
// checking each size against what is left first: a count below 0 reads
// nothing, and a count whose records would run past the end is a
// truncated file, so nothing is ever allocated beyond the file's own size.
// OrvaOsf also holds a whole file as plain data, to write files and to
// look at them. Main thread only.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

static_assert(std::endian::native == std::endian::little, "OSF records are read as little-endian memory");

// The vertex of scene layers: the same 24 bytes in the file and the device
// buffer (position, ARGB colour, texture coordinates; vertex format 0x142).
struct OrvaSceneVertex {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    uint32_t color = 0;
    float u = 0.0f;
    float v = 0.0f;
};
static_assert(sizeof(OrvaSceneVertex) == 24, "a scene vertex is 24 bytes");

struct OsfModelRecord {
    char name[64] = {};       // also the name of each of its layers
    int32_t layerCount = 0;
};
static_assert(sizeof(OsfModelRecord) == 68, "OsfModelRecord is 68 bytes");

struct OsfLayerHeader {
    float boxMin[3] = {};
    float boxMax[3] = {};
    int32_t indexCount = 0;    // three per triangle
    int32_t vertexCount = 0;
    int32_t surfaceCount = 0;
};
static_assert(sizeof(OsfLayerHeader) == 36, "OsfLayerHeader is 36 bytes");

struct OsfSurfaceRecord {
    char name[64] = {};        // an image of the scene's pack
    int32_t firstIndex = 0;    // into the layer's index list
    int32_t indexCount = 0;
};
static_assert(sizeof(OsfSurfaceRecord) == 72, "OsfSurfaceRecord is 72 bytes");

struct OsfSceneHeader {
    char magic[4] = {'O', 'S', 'D', '\0'};
    int32_t version = 0x10000;
    uint8_t reserved[8] = {};
};
static_assert(sizeof(OsfSceneHeader) == 16, "OsfSceneHeader is 16 bytes");

struct OsfSceneRecord {
    char name[64] = {};
    int32_t firstFrame = 0;
    int32_t lastFrame = 0;
    int32_t frameParameterA = 0;
    int32_t frameParameterB = 0;
    int32_t itemCount = 0;     // not counting the camera item
    float aspect = 0.0f;
    float fovA = 0.0f;
    float fovB = 0.0f;         // vertical field of view, radians
};
static_assert(sizeof(OsfSceneRecord) == 96, "OsfSceneRecord is 96 bytes");

struct OsfItemRecord {
    int32_t kind = 0;
    char name[64] = {};        // binds the item to the first layer of that name
    int32_t kept[4] = {};
    int32_t parentItem = 0;    // 3: the camera item is the parent
    int32_t parentNo = -1;     // else the parent's item index; negative: none
};
static_assert(sizeof(OsfItemRecord) == 92, "OsfItemRecord is 92 bytes");

struct OsfChannelHeader {
    int32_t keyCount = 0;
    int32_t preBehavior = 0;
    int32_t postBehavior = 0;
};
static_assert(sizeof(OsfChannelHeader) == 12, "OsfChannelHeader is 12 bytes");

struct OsfKey {
    int32_t shape = 0;
    float time = 0.0f;
    float value = 0.0f;
    float p[6] = {};
};
static_assert(sizeof(OsfKey) == 36, "OsfKey is 36 bytes");

// How a read ended.
enum class OrvaOsfStatus : int32_t {
    Complete,       // every item was read
    NotOsf,         // the model header's magic is wrong or missing
    NotScene,       // the scene header's magic is wrong
    WrongVersion,   // the scene header's version is not 0x10000
    Truncated,      // the file ends before its counts do
};

// What a reader is told, in file order. A record is handed over only once
// it is complete; every name is zero-terminated within its 64 bytes.
class OrvaOsfVisitor {
public:
    virtual ~OrvaOsfVisitor() = default;
    virtual void OnModelCount(int32_t count) = 0;
    virtual void OnModel(const OsfModelRecord& model) = 0;
    // Before a layer's header is read.
    virtual void OnLayerBegin() = 0;
    virtual void OnLayerHeader(const OsfLayerHeader& header) = 0;
    // The layer's vertices and indices, both complete (counts below 0 are
    // handed over as 0).
    virtual void OnLayerData(const OsfLayerHeader& header, const OrvaSceneVertex* vertices, int32_t vertexCount,
                             const uint16_t* indices, int32_t indexCount) = 0;
    virtual void OnSurface(const OsfSurfaceRecord& surface) = 0;
    // After the layer's last surface.
    virtual void OnLayerEnd() = 0;
    virtual void OnModelEnd() = 0;
    // Before the scene header is read.
    virtual void OnSceneBegin() = 0;
    virtual void OnScene(const OsfSceneRecord& scene) = 0;
    // camera: the camera item, else the next of the item list.
    virtual void OnItem(bool camera, const OsfItemRecord& item) = 0;
    // Channel 0 to 8 of the item last handed over, with its keys.
    virtual void OnChannel(bool camera, int32_t channel, const OsfChannelHeader& header, const OsfKey* keys,
                           int32_t keyCount) = 0;
};

class OrvaOsf {
public:
    static constexpr int32_t kVersion = 0x10000;
    static constexpr int32_t kChannels = 9;
    static constexpr int32_t kNameBytes = 64;
    static constexpr size_t kModelHeaderBytes = 8;

    struct Layer {
        OsfLayerHeader header;
        std::vector<OrvaSceneVertex> vertices;
        std::vector<uint16_t> indices;
        std::vector<OsfSurfaceRecord> surfaces;
    };
    struct Model {
        OsfModelRecord record;
        std::vector<Layer> layers;
    };
    struct Channel {
        OsfChannelHeader header;
        std::vector<OsfKey> keys;
    };
    struct Item {
        OsfItemRecord record;
        std::array<Channel, kChannels> channels;
        int32_t channelsRead = 0;   // whole channels a read found
    };

    // Walks a file's bytes, handing each complete record to the visitor.
    static OrvaOsfStatus Read(const uint8_t* bytes, size_t size, OrvaOsfVisitor* visitor);

    // Takes a file's bytes as plain data: everything complete before the
    // point where a read stopped is kept; the status says why it stopped.
    OrvaOsfStatus Parse(const uint8_t* bytes, size_t size);
    // The file's bytes. Every count is written from the data (a model's
    // layer count, a layer's counts, the item count, each key count); the
    // other fields as they are; the scene part only when hasScene, the
    // items only when hasCamera. False when out is null.
    bool Serialize(std::vector<uint8_t>* out) const;
    // Writes the file (an engine name); false with a log line on failure.
    bool Save(const char* fileName) const;
    void Clear();

    std::vector<Model> models;
    bool hasScene = false;        // the scene header and record were read
    OsfSceneHeader sceneHeader;
    OsfSceneRecord scene;
    bool hasCamera = false;
    Item camera;
    std::vector<Item> items;      // complete item records, in file order
    OrvaOsfStatus status = OrvaOsfStatus::Complete;
};
