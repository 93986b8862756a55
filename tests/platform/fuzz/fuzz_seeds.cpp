#include "tests/platform/fuzz/fuzz_seeds.h"

#include "engine/core/image_pack.h"
#include "tests/platform/image/image_test_util.h"

namespace fuzzseeds {

std::vector<Bytes> ImageSeeds() {
    const platform::Image colour = imagetest::Pattern(9, 7, true);
    platform::Image few = imagetest::Pattern(6, 5, false);
    for (uint32_t& c : few.argb) {
        c = (c & 0x80) ? 0xFFFFFFFFu : 0xFF000000u;
    }
    std::vector<Bytes> seeds;
    for (int bits : {1, 4, 8}) {
        seeds.push_back(imagetest::MakeBmp(few, bits, false));
    }
    for (int bits : {16, 24, 32}) {
        seeds.push_back(imagetest::MakeBmp(colour, bits, bits == 32));
    }
    seeds.push_back(imagetest::MakeBmp(colour, 32, false, 124));
    seeds.push_back(imagetest::MakeBmp(colour, 24, false, 12));
    seeds.push_back(imagetest::MakeBmpRle(4, 3, {0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF},
                                          {2, 1, 2, 2, 0, 0, 0, 4, 0, 1, 2, 3, 0, 0, 0, 2, 2, 0, 2, 3, 0, 1}, false));
    seeds.push_back(imagetest::MakeBmpRle(4, 2, {0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF},
                                          {4, 0x12, 0, 0, 0, 3, 0x32, 0x10, 0, 0, 0, 1}, true));
    for (bool rle : {false, true}) {
        for (int depth : {8, 16, 24, 32}) {
            seeds.push_back(imagetest::MakeTga(colour, depth, rle, depth == 16));
        }
        seeds.push_back(imagetest::MakeTga(few, 8, rle, false, true));
    }
    seeds.push_back(imagetest::MakePpm(colour, true, false, 255));
    seeds.push_back(imagetest::MakePpm(colour, false, false, 255));
    seeds.push_back(imagetest::MakePpm(colour, true, true, 65535));
    for (int bits : {16, 24, 32}) {
        seeds.push_back(imagetest::MakeDds(colour, bits));
    }
    seeds.push_back(imagetest::MakeDdsBlocks(8, 4, "DXT1", Bytes(16, 0x3C)));
    seeds.push_back(imagetest::MakeDdsBlocks(4, 8, "DXT3", Bytes(32, 0x5A)));
    seeds.push_back(imagetest::MakeDdsBlocks(5, 5, "DXT5", Bytes(64, 0xA7)));
    for (int channels : {1, 3, 4}) {
        seeds.push_back(imagetest::MakePng(colour, channels));
    }
    seeds.push_back(imagetest::MakePngPalette(few, false));
    seeds.push_back(imagetest::MakePngPalette(few, true));
    seeds.push_back(imagetest::MakeJpeg(colour, 75, false));
    seeds.push_back(imagetest::MakeJpeg(colour, 75, true));
    seeds.push_back(imagetest::MakeJpeg(colour, 60, false, true));
    return seeds;
}

std::vector<Bytes> PackSeeds() {
    const platform::Image a = imagetest::Pattern(6, 4, true);
    const platform::Image b = imagetest::Pattern(3, 9, false);
    std::vector<Bytes> seeds;
    for (uint8_t format = 0; format < 8; ++format) {
        Bytes pack;
        OrvaImagePack::Build({{"title", &a, format}, {"\x83\x5e\x83\x43\x83\x67\x83\x8b", &b, uint8_t(7 - format)}},
                             &pack);
        seeds.push_back(pack);
    }
    return seeds;
}

}  // namespace fuzzseeds
