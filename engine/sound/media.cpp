#include "engine/sound/media.h"

#include <new>
#include <string>
#include <type_traits>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/texture.h"
#include "platform/media/video.h"
#include "platform/sys/path.h"

// What the module's start sets up for the movies: the check that pictures
// can be delivered in the display's format. Reference counted: the module
// holds one, and so does every movie opened while it existed, so that
// shut-down can say how many movies were still using it.
struct OrvaMediaDisplay {
    int32_t refs = 1;

    void AddRef() { ++refs; }
    int32_t Release()
    {
        const int32_t left = --refs;
        if (left == 0) {
            delete this;
        }
        return left;
    }
};

namespace {

// Plain data, so never destroyed: a movie released at process exit, after
// any static destructor, still finds the module. The list is the
// application's (see OrvaApplication::GetModuleList).
struct MediaModule {
    OrvaObjectList& list = OrvaApplication::GetModuleList(OrvaModule::Media);
    OrvaMediaDisplay* display = nullptr;
};
static_assert(std::is_trivially_destructible_v<MediaModule>);

MediaModule& Module()
{
    static MediaModule module;
    return module;
}

uint32_t LogId(const void* object)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
}

// The format the texture of a movie is made in (the back buffer's), and so
// the one its pictures are delivered in.
uint32_t ScreenFormat()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device != nullptr && device->GetBackBuffer() != nullptr) {
        return device->GetBackBuffer()->GetFormat();
    }
    return platform::kVideoA8R8G8B8;
}

}  // namespace

int32_t OrvaMedia::Initialize()
{
    MediaModule& module = Module();
    OrvaDebug::Log("\n============================================== Initialize MediaStream\n");
    if (module.display != nullptr) {
        // Started twice: the first one's reference goes, it is not leaked.
        module.display->Release();
        module.display = nullptr;
    }
    OrvaMediaDisplay* display = new (std::nothrow) OrvaMediaDisplay();
    if (display == nullptr) {
        OrvaDebug::Log("  エラー : DirectDrawオブジェクトの生成に失敗\n");
        return 0;
    }
    module.display = display;
    OrvaDebug::Log("  ■ DirectDrawオブジェクトを生成\n");
    if (!platform::VideoStream::IsFormatSupported(ScreenFormat())) {
        OrvaDebug::Log("  エラー : DirectDrawオブジェクトの初期化に失敗\n");
        return 0;
    }
    OrvaDebug::Log("  ■ DirectDrawオブジェクトを初期化\n");
    OrvaDebug::Log("  ■ 協調レベルを設定\n");
    // Movies made before the start stay listed: emptying the list under
    // them would leave them unreleased at shut-down and their unlinking
    // would corrupt it.
    if (module.list.GetCount() == 0) {
        module.list.Init();
    }
    return 1;
}

void OrvaMedia::Destroy()
{
    MediaModule& module = Module();
    OrvaDebug::Log("\n============================================== Destroy MediaStream\n");
    if (module.display != nullptr) {
        const int32_t left = module.display->Release();
        module.display = nullptr;
        OrvaDebug::Log("  ■ Release DirectDraw Object [参照カウント%u]\n", static_cast<uint32_t>(left));
    }
    module.list.ReleaseAll();
}

int32_t OrvaMedia::GetCount()
{
    return Module().list.GetCount();
}

OrvaMedia::OrvaMedia() = default;

OrvaMedia::~OrvaMedia()
{
    if (texture != nullptr) {
        texture->Release();
        texture = nullptr;
    }
    // The sound leaves the mixer here.
    stream.reset();
    if (display != nullptr) {
        display->Release();
        display = nullptr;
    }
}

OrvaMedia* OrvaMedia::Create(const char* fileName, OrvaProgress progress)
{
    OrvaMedia* media = new (std::nothrow) OrvaMedia();
    if (media == nullptr) {
        return nullptr;
    }
    Module().list.PushBack(media);
    OrvaDebug::Log("○ CreateMediaFile / ID [0x%08X] / ", LogId(media));
    OrvaApplication::SetCurrentDirectory();
    const char* name = fileName != nullptr ? fileName : "";
    OrvaDebug::Log("%s / ", name);
    media->Load(name, progress);
    return media;
}

void OrvaMedia::Load(const char* fileName, OrvaProgress progress)
{
    auto step = [progress](int32_t count) {
        for (int32_t i = 0; progress != nullptr && i < count; ++i) {
            progress(0);
        }
    };
    platform::VideoOpenResult result = platform::VideoOpenResult::kUnreadable;
    std::unique_ptr<platform::VideoStream> opened;
    try {
        const std::string path = platform::HostPath(fileName);
        if (!path.empty()) {
            opened = platform::VideoStream::Open(path.c_str(), ScreenFormat(), &result);
        }
    } catch (const std::bad_alloc&) {
        result = platform::VideoOpenResult::kOutOfMemory;
    }
    // Each failure is reported at the step it stands for, with the progress
    // of the steps before it.
    if (opened == nullptr) {
        switch (result) {
        case platform::VideoOpenResult::kOutOfMemory:
            OrvaDebug::Log("エラー : メディアの生成に失敗しました\n");
            break;
        case platform::VideoOpenResult::kBadFormat:
            step(2);
            OrvaDebug::Log("エラー : DirectDrawに接続できません\n");
            break;
        case platform::VideoOpenResult::kNoAudioDevice:
            step(3);
            OrvaDebug::Log("エラー : DirectSoundに接続できません\n");
            break;
        case platform::VideoOpenResult::kNoVideo:
        case platform::VideoOpenResult::kTooLarge:
            step(5);
            OrvaDebug::Log("エラー : 初期化に失敗しました\n");
            break;
        default:
            step(4);
            OrvaDebug::Log("エラー : ファイルが開けません\n");
            break;
        }
        return;
    }
    // Opening, its stream and the sample: nine steps of progress.
    step(9);
    stream = std::move(opened);
    if (Module().display != nullptr) {
        display = Module().display;
        display->AddRef();
    }
    duration = stream->GetDuration();
    width = stream->GetWidth();
    height = stream->GetHeight();
    // The stream caps a picture's side, so the doubling ends.
    int32_t textureWidth = 1;
    while (textureWidth < width) {
        textureWidth *= 2;
    }
    int32_t textureHeight = 1;
    while (textureHeight < height) {
        textureHeight *= 2;
    }
    step(1);
    OrvaDebug::Log("{\n\t");
    texture = OrvaTexture::CreateScreenFormat(textureWidth, textureHeight, progress);
    OrvaDebug::Log("} %dx%d / Complete!\n", width, height);
    // Pictures are copied texel for texel: they must come in the texture's
    // format, whatever the device chose for it.
    if (texture != nullptr && texture->IsValid() != 0 && texture->GetFormat() != stream->GetFormat()) {
        stream->SetFormat(texture->GetFormat());
    }
    loaded = 1;
}

int32_t OrvaMedia::CopyFrame()
{
    if (stream == nullptr || texture == nullptr) {
        return 0;
    }
    int32_t copied = 0;
    int32_t framePitch = 0;
    const uint8_t* frame = stream->GetFrame(&framePitch);
    void* bits = nullptr;
    int32_t pitch = 0;
    if (frame != nullptr && texture->Lock(&bits, &pitch) != 0) {
        if (texture->GetFormat() == stream->GetFormat()) {
            OrvaPixelImage destination;
            destination.bits = bits;
            destination.pitch = pitch;
            destination.width = texture->GetWidth();
            destination.height = texture->GetHeight();
            OrvaPixelImage source;
            source.bits = const_cast<uint8_t*>(frame);
            source.pitch = framePitch;
            source.width = width;
            source.height = height;
            copied = OrvaGraphics::ConvertPixels(&destination, &source, texture->GetFormat(), nullptr);
        }
        texture->Unlock();
    }
    texture->Update();
    return copied;
}

int32_t OrvaMedia::Play(int32_t loopFlag)
{
    if (loaded == 0) {
        return 0;
    }
    stream->Rewind();
    stream->Run();
    playing = 1;
    loop = static_cast<uint32_t>(loopFlag);
    return 1;
}

int32_t OrvaMedia::Stop()
{
    if (playing != 0) {
        stream->Stop();
        stream->Rewind();
        playing = 0;
        loop = 0;
    }
    return 1;
}

int32_t OrvaMedia::Update()
{
    if (playing == 0) {
        return 0;
    }
    // The picture is copied only when a new one is due: the caller's frames
    // come faster than the movie's, and the wait is never spent here.
    if (stream->UpdateFrame()) {
        CopyFrame();
    }
    // The end is the last picture's and the last sound's, not the length
    // the file gives: a raw stream gives none, a cut file too much.
    if (!stream->HasEnded()) {
        return 0;
    }
    if (loop != 0) {
        stream->Rewind();
        return 0;
    }
    playing = 0;
    return 1;
}

int32_t OrvaMedia::GetTexture(OrvaTexture** out)
{
    if (texture == nullptr || out == nullptr) {
        return 0;
    }
    texture->AddRef();
    *out = texture;
    return 1;
}

int32_t OrvaMedia::GetWidth()
{
    return width;
}

int32_t OrvaMedia::GetHeight()
{
    return height;
}
