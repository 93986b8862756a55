#pragma once
// Small movies the tests make for themselves with the ffmpeg program: the
// pictures are written here pixel by pixel, so every texel of every frame is
// known to the test.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace test_movie {

inline std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "orva_" + std::to_string(getpid()) + "_" + name;
}

// The colour of pixel (x, y) of frame f, as 0xRRGGBB.
using Picture = std::function<uint32_t(int frame, int x, int y)>;

struct MovieRecipe {
    int width = 16;
    int height = 16;
    int framesPerSecond = 4;
    int frames = 4;
    // "raw" keeps every colour exact; "mpeg4" is a lossy 4:2:0 codec;
    // "h264" too, and written to a path ending in .h264 it is a bare stream
    // with no container, no times and no length.
    std::string codec = "raw";
    // Sound as ffmpeg's aevalsrc expressions, e.g. "0.25|-0.5" for a
    // constant stereo pair; empty for a movie without sound.
    std::string sound;
    double soundSeconds = 0.0;
    int soundRate = 44100;
};

// Writes the movie as an AVI file; false when ffmpeg failed.
inline bool MakeMovie(const std::string& path, const MovieRecipe& recipe, const Picture& picture)
{
    const std::string raw = path + ".rgb";
    {
        std::ofstream out(raw, std::ios::binary);
        for (int f = 0; f < recipe.frames; ++f) {
            for (int y = 0; y < recipe.height; ++y) {
                for (int x = 0; x < recipe.width; ++x) {
                    const uint32_t c = picture(f, x, y);
                    const char bgr[3] = {static_cast<char>(c), static_cast<char>(c >> 8), static_cast<char>(c >> 16)};
                    out.write(bgr, 3);
                }
            }
        }
        if (!out) {
            return false;
        }
    }
    std::string command = "timeout 60 ffmpeg -nostdin -y -loglevel error -f rawvideo -pix_fmt bgr24 -s " +
                          std::to_string(recipe.width) + "x" + std::to_string(recipe.height) + " -r " +
                          std::to_string(recipe.framesPerSecond) + " -i '" + raw + "'";
    if (!recipe.sound.empty()) {
        command += " -f lavfi -t " + std::to_string(recipe.soundSeconds) + " -i \"aevalsrc=exprs=" + recipe.sound +
                   ":s=" + std::to_string(recipe.soundRate) + ":d=" + std::to_string(recipe.soundSeconds) + "\" -c:a pcm_s16le";
    }
    // Bounded by time, not by frames: a frame limit ends the output at the
    // last picture and cuts off sound not yet written.
    const double seconds = std::max(static_cast<double>(recipe.frames) / recipe.framesPerSecond, recipe.soundSeconds);
    command += " -t " + std::to_string(seconds);
    if (recipe.codec == "raw") {
        command += " -c:v rawvideo -pix_fmt bgr24";
    } else if (recipe.codec == "h264") {
        command += " -c:v libx264 -pix_fmt yuv420p";
    } else {
        command += " -c:v mpeg4 -q:v 2 -pix_fmt yuv420p";
    }
    command += " '" + path + "' 2>&1";
    const int status = std::system(command.c_str());
    std::remove(raw.c_str());
    return status == 0;
}

// Solid frames, one colour each.
inline Picture Solid(std::vector<uint32_t> colours)
{
    return [colours](int frame, int, int) { return colours[static_cast<size_t>(frame) % colours.size()]; };
}

// Each picture shows its number in binary, one 8 x 8 square a bit, four a
// row, white for 1: readable through a lossy codec.
inline uint32_t Numbered(int frame, int x, int y)
{
    const int bit = (y / 8) * 4 + x / 8;
    return (frame >> bit & 1) != 0 ? 0xFFFFFF : 0x000000;
}

// A movie of Numbered pictures, 32 x 32.
inline MovieRecipe NumberedMovie(int framesPerSecond, int frames, const char* codec)
{
    MovieRecipe recipe;
    recipe.width = 32;
    recipe.height = 32;
    recipe.framesPerSecond = framesPerSecond;
    recipe.frames = frames;
    recipe.codec = codec;
    return recipe;
}

// The numbers of every picture of a Numbered movie, in order.
inline std::vector<int> Counting(int count)
{
    std::vector<int> numbers(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        numbers[static_cast<size_t>(i)] = i;
    }
    return numbers;
}

// The number a Numbered picture shows, from its 32-bit texels (rows pitch
// bytes apart, at least 32 x 32).
inline int ReadNumber(const uint8_t* texels, int32_t pitch)
{
    int number = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const uint8_t* texel = texels + (bit / 4 * 8 + 4) * pitch + (bit % 4 * 8 + 4) * 4;
        number |= texel[1] > 0x80 ? 1 << bit : 0;
    }
    return number;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace test_movie
