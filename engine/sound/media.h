#pragma once
// Movies played into a texture: each picture, when its time comes, is
// copied into the texture's system copy and sent to the device texture; the
// movie's sound plays through the mixer. The movie's clock is its place in
// the mixer's output, so the picture follows the sound. Main thread only;
// objects can be created whether or not the module was started.
#include <cstdint>
#include <memory>

#include "engine/core/graphics.h"
#include "engine/core/object.h"

class OrvaTexture;
struct OrvaMediaDisplay;

namespace platform {
class VideoStream;
}

class OrvaMedia : public OrvaObject {
public:
    // ---- module
    // 1 when the module started, 0 (logged) when it did not.
    static int32_t Initialize();
    // Releases every movie still listed.
    static void Destroy();

    // ---- creation
    // Opens a movie (an engine file name, taken from the program's folder
    // when relative) and makes its texture: the smallest power-of-two size
    // that holds a picture, in the back buffer's format. progress, when
    // given, is called with 0 after each step. Returns the object, unloaded
    // when the movie cannot be played; null only when memory runs out.
    static OrvaMedia* Create(const char* fileName, OrvaProgress progress);
    // The number of live movies in the module's list.
    static int32_t GetCount();

    // ---- methods
    // Copies the picture in the stream's frame buffer into the texture,
    // stretched over all of it; 1 when copied.
    virtual int32_t CopyFrame();
    // Starts from the beginning; 0 when not loaded.
    virtual int32_t Play(int32_t loop);
    // Stops and goes back to the beginning. Always 1.
    virtual int32_t Stop();
    // Once a frame: shows the picture due now. 1 exactly once, on the call
    // that finds a movie played without looping at its end; else 0.
    virtual int32_t Update();
    // 1 and the texture with a reference for the caller, or 0 (out left
    // untouched) when there is none.
    virtual int32_t GetTexture(OrvaTexture** out);
    virtual int32_t GetWidth();   // pixels of the movie, not the texture
    virtual int32_t GetHeight();  // pixels

    int32_t IsLoaded() const { return loaded != 0 ? 1 : 0; }
    int32_t IsPlaying() const { return playing != 0 ? 1 : 0; }
    int64_t GetDuration() const { return duration; }  // 100-ns units

protected:
    OrvaMedia();
    ~OrvaMedia() override;

private:
    void Load(const char* fileName, OrvaProgress progress);

    OrvaTexture* texture = nullptr;                  // owned: one reference
    std::unique_ptr<platform::VideoStream> stream;   // null unless loaded
    OrvaMediaDisplay* display = nullptr;             // a reference, when the module was started
    int64_t duration = 0;      // 100-ns units
    int32_t width = 0;         // pixels
    int32_t height = 0;        // pixels
    uint32_t loaded = 0;
    uint32_t playing = 0;
    uint32_t loop = 0;
};
