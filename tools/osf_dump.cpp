// osf-dump: prints what an OSF scene file holds, record by record, and how
// its reading ended. The output format is stable: other tools read it.
//
//   osf-dump FILE [--no-keys]
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/render/osf.h"
#include "platform/sys/file.h"
#include "platform/sys/printable.h"
#include "tools/output.h"

namespace {

const char* StatusText(OrvaOsfStatus status)
{
    switch (status) {
    case OrvaOsfStatus::Complete: return "complete";
    case OrvaOsfStatus::NotOsf: return "not an OSF file";
    case OrvaOsfStatus::NotScene: return "no scene header";
    case OrvaOsfStatus::WrongVersion: return "wrong version";
    case OrvaOsfStatus::Truncated: return "truncated";
    }
    return "?";
}

void PrintItem(const char* label, const OrvaOsf::Item& item, bool keys)
{
    const OsfItemRecord& r = item.record;
    ToolPrint("%s [%s] kind %d kept %d %d %d %d parent item %d no %d\n", label, r.name, r.kind, r.kept[0],
                r.kept[1], r.kept[2], r.kept[3], r.parentItem, r.parentNo);
    for (int c = 0; c < item.channelsRead; ++c) {
        const OrvaOsf::Channel& channel = item.channels[static_cast<size_t>(c)];
        ToolPrint("  channel %d pre %d post %d keys %zu\n", c, channel.header.preBehavior,
                    channel.header.postBehavior, channel.keys.size());
        if (!keys) {
            continue;
        }
        for (const OsfKey& k : channel.keys) {
            ToolPrint("    key shape %d time %g value %g p %g %g %g %g %g %g\n", k.shape, k.time, k.value, k.p[0],
                        k.p[1], k.p[2], k.p[3], k.p[4], k.p[5]);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--no-keys") != 0)) {
        std::fprintf(stderr, "usage: osf-dump FILE [--no-keys]\n");
        return 2;
    }
    const bool keys = argc == 2;
    ToolOutputBegin();
    FILE* file = platform::OpenRegularFileStream(argv[1]);
    if (file == nullptr) {
        std::fprintf(stderr, errno == EISDIR ? "osf-dump: %s is a directory\n" : "osf-dump: cannot open %s\n",
                     platform::PrintableText(argv[1]).c_str());
        return 1;
    }
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    // A file that fails part way would be dumped as if it ended there.
    if (std::ferror(file) != 0) {
        const int error = errno;
        std::fclose(file);
        std::fprintf(stderr, "osf-dump: cannot read %s: %s\n", platform::PrintableText(argv[1]).c_str(),
                     std::strerror(error));
        return 1;
    }
    std::fclose(file);

    OrvaOsf doc;
    const OrvaOsfStatus status = doc.Parse(bytes.data(), bytes.size());
    ToolPrint("file %s bytes %zu\n", argv[1], bytes.size());
    ToolPrint("models %zu\n", doc.models.size());
    for (const OrvaOsf::Model& model : doc.models) {
        ToolPrint("model [%s] layers %zu\n", model.record.name, model.layers.size());
        for (const OrvaOsf::Layer& layer : model.layers) {
            const OsfLayerHeader& h = layer.header;
            ToolPrint("  layer vertices %zu indices %zu surfaces %zu box %g %g %g - %g %g %g\n",
                        layer.vertices.size(), layer.indices.size(), layer.surfaces.size(), h.boxMin[0],
                        h.boxMin[1], h.boxMin[2], h.boxMax[0], h.boxMax[1], h.boxMax[2]);
            for (const OsfSurfaceRecord& s : layer.surfaces) {
                ToolPrint("    surface [%s] first %d count %d\n", s.name, s.firstIndex, s.indexCount);
            }
        }
    }
    if (doc.hasScene) {
        const OsfSceneRecord& s = doc.scene;
        ToolPrint("scene [%s] frames %d %d parameters %d %d items %d aspect %g fov %g %g\n", s.name, s.firstFrame,
                    s.lastFrame, s.frameParameterA, s.frameParameterB, s.itemCount, s.aspect, s.fovA, s.fovB);
    }
    if (doc.hasCamera) {
        PrintItem("camera", doc.camera, keys);
    }
    for (const OrvaOsf::Item& item : doc.items) {
        PrintItem("item", item, keys);
    }
    ToolPrint("end %s\n", StatusText(status));
    if (!ToolOutputEnd("osf-dump")) {
        return 1;
    }
    return status == OrvaOsfStatus::Complete ? 0 : 1;
}
