#include "engine/sound/sound.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/sound/command_ring.h"
#include "platform/audio/effects.h"
#include "platform/audio/sound_buffer.h"
#include "platform/sys/file.h"
#include "platform/sys/path.h"
#include "platform/sys/resource.h"

enum SoundCommand : uint32_t {
    kCommandLoad = 0,
    kCommandLoadFromPack = 1,
    kCommandRelease = 2,
    kCommandPlay = 3,
    kCommandNothing = 4,
    kCommandStop = 5,
    kCommandPause = 6,
    kCommandVolume = 7,
    kCommandPan = 8,
    kCommandClearEffects = 9,
    kCommandReverb = 10,
    kCommandEcho = 11,
    kCommandChorus = 12,
    kCommandCompressor = 13,
    kCommandDistortion = 14,
    kCommandFlanger = 15,
    kCommandGargle = 16,
    kCommandParamEq = 17,
    kCommandQuit = 18,
};

static constexpr uint32_t kMessageBoxError = 0x10;
// The size of an OSD pack's magic and of each entry's fixed fields.
static constexpr size_t kPackMagicBytes = 4;
static constexpr size_t kPackNameBytes = 32;

static OrvaObjectList& SoundList();
// The device and its primary buffer: made, used and destroyed on the worker.
static std::unique_ptr<platform::SoundDevice> g_device;
static std::unique_ptr<platform::PrimaryBuffer> g_primary;

// Indexed by SoundCommand; quit is handled by the ring itself. Every command,
// loads included, runs under the module lock.
static const OrvaCommandEntry kSoundCommands[] = {
    {OrvaRunCommand<&OrvaSound::LoadWave>, false},
    {OrvaRunCommand<&OrvaSound::LoadFromPack>, false},
    {OrvaRunRelease, false},
    {OrvaRunCommand<&OrvaSound::ExecPlay>, false},
    {nullptr, false},
    {OrvaRunCommand<&OrvaSound::ExecStop>, false},
    {OrvaRunCommand<&OrvaSound::ExecPause>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetVolume>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetPan>, false},
    {OrvaRunCommand<&OrvaSound::ExecClearEffects>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetReverb>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetEcho>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetChorus>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetCompressor>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetDistortion>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetFlanger>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetGargle>, false},
    {OrvaRunCommand<&OrvaSound::ExecSetParamEq>, false},
};
static_assert(sizeof kSoundCommands / sizeof kSoundCommands[0] == kCommandQuit);

// On the worker, before the first command: the device, its level and the
// primary buffer. A failure ends the set-up; the ring serves all the same
// and every load then fails when it makes its buffer.
static void SoundSetUp()
{
    g_device = platform::SoundDevice::Create();
    if (g_device == nullptr) {
        OrvaDebug::Log("  エラー : DirectSoundオブジェクトの生成に失敗\n");
        OrvaDebug::Log("    [ DirectX8.1以降をインストールしてください。 ]\n");
        OrvaDebug::MsgBox(kMessageBoxError, "Error", "DirectX8.1が正しくインストールされていない可能性があります");
        return;
    }
    OrvaDebug::Log("  ■ DirectSoundオブジェクトを生成\n");
    if (g_device->Initialize() != platform::SoundResult::kOk) {
        OrvaDebug::Log("  エラー : DirectSoundオブジェクトの生成に失敗\n");
        return;
    }
    OrvaDebug::Log("  ■ DirectSoundオブジェクトを初期化\n");
    if (g_device->SetCooperativeLevel(platform::CooperativeLevel::kPriority) == platform::SoundResult::kOk) {
        OrvaDebug::Log("  ■ 協調レベルを 優先レベル に設定\n");
    } else if (g_device->SetCooperativeLevel(platform::CooperativeLevel::kNormal) == platform::SoundResult::kOk) {
        OrvaDebug::Log("  ■ 協調レベルを 通常レベル に設定\n");
    } else {
        OrvaDebug::Log("  エラー : 協調レベルの設定に失敗\n");
        return;
    }
    if (g_device->Compact() == platform::SoundResult::kOk) {
        OrvaDebug::Log("  ■ メモリのコンパクションを実行\n");
    } else {
        OrvaDebug::Log("  エラー : メモリのコンパクションに失敗\n");
    }
    g_primary = g_device->CreatePrimaryBuffer(nullptr);
    if (g_primary == nullptr) {
        OrvaDebug::Log("  エラー : プライマリサウンドバッファの生成に失敗\n");
        return;
    }
    OrvaDebug::Log("  ■ プライマリサウンドバッファを生成\n");
    platform::WaveFormat output;
    output.formatTag = platform::kWaveFormatPcm;
    output.channels = 2;
    output.samplesPerSec = 44100;
    output.avgBytesPerSec = 176400;
    output.blockAlign = 4;
    output.bitsPerSample = 16;
    output.extraSize = 0;
    if (g_primary->SetFormat(output) == platform::SoundResult::kOk) {
        OrvaDebug::Log("     プライマリサウンドバッファのフォーマットを設定\n");
    }
}

// On the worker, after every sound is released.
static void SoundTearDown()
{
    // Our device and buffers have one owner each, so nothing holds them once
    // they are released here.
    if (g_primary != nullptr) {
        g_primary.reset();
        OrvaDebug::Log("  ■ DirectSoundBufferを解体 [参照カウント%u]\n", 0u);
    }
    if (g_device != nullptr) {
        g_device.reset();
        OrvaDebug::Log("  ■ DirectSoundを解体 [参照カウント%u]\n", 0u);
    }
}

static const OrvaWorkerModule kSoundModule = {
    "orva-sound",
    "\n============================================== Initialize DirectSound\n",
    "\n============================================== Destroy DirectSound\n",
    kSoundCommands,
    sizeof kSoundCommands / sizeof kSoundCommands[0],
    kCommandQuit,
    SoundList,
    SoundSetUp,
    SoundTearDown,
};

static OrvaCommandRing g_soundRing(kSoundModule);

static OrvaObjectList& SoundList()
{
    return OrvaWorkerModuleList<g_soundRing, OrvaModule::Sound>();
}

int32_t OrvaSound::Initialize()
{
    return g_soundRing.StartOnce();
}

void OrvaSound::Destroy()
{
    g_soundRing.Stop();
}

OrvaSound::OrvaSound() = default;

OrvaSound* OrvaSound::Create(const char* fileName)
{
    OrvaSound* sound = new (std::nothrow) OrvaSound();
    if (!g_soundRing.Adopt(sound, "○ CreateSound   / ID [0x%08X] / ")) {
        return nullptr;
    }
    // A refused name (too long) is logged by the ring; the sound stays unloaded.
    g_soundRing.PostName(kCommandLoad, sound, fileName);
    return sound;
}

OrvaSound* OrvaSound::CreateFromPack(const char* packFile, const char* entryName)
{
    OrvaSound* sound = new (std::nothrow) OrvaSound();
    if (!g_soundRing.Adopt(sound, "○ CreateSound   / ID [0x%08X] / ")) {
        return nullptr;
    }
    g_soundRing.PostNames(kCommandLoadFromPack, sound, packFile, entryName);
    return sound;
}

void OrvaSound::Play(OrvaSound* object, int32_t loopFlag)
{
    g_soundRing.PostWord(kCommandPlay, object, static_cast<uint32_t>(loopFlag));
}

void OrvaSound::Stop(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandStop, object, 0);
}

void OrvaSound::Pause(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandPause, object, 0);
}

void OrvaSound::SetVolume(OrvaSound* object, float percent)
{
    g_soundRing.PostFloat(kCommandVolume, object, percent);
}

void OrvaSound::SetPan(OrvaSound* object, float pan)
{
    g_soundRing.PostFloat(kCommandPan, object, pan);
}

void OrvaSound::ClearEffects(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandClearEffects, object, 0);
}

void OrvaSound::SetReverb(OrvaSound* object, int32_t preset)
{
    g_soundRing.PostWord(kCommandReverb, object, static_cast<uint32_t>(preset));
}

void OrvaSound::SetEcho(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandEcho, object, 0);
}

void OrvaSound::SetChorus(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandChorus, object, 0);
}

void OrvaSound::SetCompressor(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandCompressor, object, 0);
}

void OrvaSound::SetDistortion(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandDistortion, object, 0);
}

void OrvaSound::SetFlanger(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandFlanger, object, 0);
}

void OrvaSound::SetGargle(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandGargle, object, 0);
}

void OrvaSound::SetParamEq(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandParamEq, object, 0);
}

void OrvaSound::PostRelease(OrvaSound* object)
{
    g_soundRing.PostWord(kCommandRelease, object, 0);
}

int32_t OrvaSound::IsPlaying(OrvaSound* object)
{
    return g_soundRing.IsPlaying(object);
}

void OrvaSound::WaitIdle()
{
    g_soundRing.WaitIdle();
}

static uint32_t ReadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

enum class ReadResult { kOk, kCannotOpen, kFailed };

// Reads a whole file named as the engine names files.
static ReadResult ReadWholeFile(const char* name, std::vector<uint8_t>* out)
{
    std::string path;
    try {
        path = platform::HostPath(name);
    } catch (const std::bad_alloc&) {
        return ReadResult::kFailed;
    }
    if (path.empty()) {
        return ReadResult::kCannotOpen;
    }
    FILE* file = platform::OpenRegularFileStream(path.c_str());
    if (file == nullptr) {
        return ReadResult::kCannotOpen;
    }
    ReadResult result = ReadResult::kFailed;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    // Our buffers hold at most 256 MB; a bigger file is no sound we can play.
    if (size >= 0 && static_cast<unsigned long>(size) <= platform::SoundDevice::kMaxBufferBytes &&
        std::fseek(file, 0, SEEK_SET) == 0) {
        try {
            out->resize(static_cast<size_t>(size));
            if (std::fread(out->data(), 1, out->size(), file) == out->size()) {
                result = ReadResult::kOk;
            }
        } catch (const std::bad_alloc&) {
            result = ReadResult::kFailed;
        }
    }
    std::fclose(file);
    return result;
}

static bool IsChunkId(const uint8_t* p)
{
    for (int i = 0; i < 4; ++i) {
        if (p[i] < 0x20 || p[i] > 0x7E) {
            return false;
        }
    }
    return true;
}

bool OrvaSound::ParseWave(const uint8_t* bytes, size_t size, platform::WaveFormat* format, size_t* dataOffset,
                          uint32_t* dataSize)
{
    if (bytes == nullptr || size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) {
        return false;
    }
    const uint8_t* fmt = nullptr;
    uint32_t fmtSize = 0;
    bool haveData = false;
    size_t at = 12;
    while (at <= size - 8) {
        const uint8_t* id = bytes + at;
        uint32_t chunkSize = ReadU32(id + 4);
        const size_t body = at + 8;
        if (chunkSize > size - body) {
            // Recorders that write as they go leave the data size to the end
            // (0xFFFFFFFF when they never got there): the samples are what
            // the file holds. Any other chunk that runs past the end hides
            // everything after it.
            if (std::memcmp(id, "data", 4) != 0) {
                return false;
            }
            chunkSize = static_cast<uint32_t>(std::min<size_t>(size - body, UINT32_MAX));
        }
        if (std::memcmp(id, "fmt ", 4) == 0) {
            fmt = bytes + body;
            fmtSize = chunkSize;
        } else if (std::memcmp(id, "data", 4) == 0) {
            *dataOffset = body;
            *dataSize = chunkSize;
            haveData = true;
            break;
        }
        size_t next = body + chunkSize;
        // RIFF pads odd chunks to an even size; some writers do not, so the
        // pad is skipped only where it leaves us at a chunk id.
        if ((chunkSize & 1) != 0 && next + 1 <= size - 4 &&
            (IsChunkId(bytes + next + 1) || !IsChunkId(bytes + next))) {
            next += 1;
        }
        at = next;
    }
    if (fmt == nullptr || !haveData || *dataSize == 0) {
        return false;
    }
    const uint16_t tag = static_cast<uint16_t>(fmt[0] | (fmt[1] << 8));
    uint8_t stored[platform::WaveFormat::kExtensibleBytes] = {};
    if (tag == platform::kWaveFormatPcm || tag == platform::kWaveFormatFloat) {
        // The 16-byte form: no extra size, and none is taken.
        if (fmtSize < 16) {
            return false;
        }
        std::memcpy(stored, fmt, 16);
    } else if (tag == platform::kWaveFormatExtensible) {
        if (fmtSize < platform::WaveFormat::kExtensibleBytes) {
            return false;
        }
        std::memcpy(stored, fmt, platform::WaveFormat::kExtensibleBytes);
    } else {
        if (fmtSize < platform::WaveFormat::kBaseBytes) {
            return false;
        }
        std::memcpy(stored, fmt, platform::WaveFormat::kBaseBytes);
    }
    return platform::WaveFormat::Read(stored, sizeof stored, format);
}

// Names what could not be played, so that a file in a compressed coding is
// told apart from a broken one: buffers hold samples, which such files do
// not.
static void LogUnplayableFormat(const platform::WaveFormat& format, const char* indent)
{
    if (platform::IsWaveFormatPlayable(format)) {
        return;
    }
    const uint16_t coding = platform::GetWaveCoding(format);
    const char* name = platform::GetWaveCodingName(coding);
    OrvaDebug::Log("%sエラー : 形式 %s (0x%04X) %uBit %uch %uHz は再生できません\n", indent,
                   name != nullptr ? name : "不明", static_cast<uint32_t>(coding),
                   static_cast<uint32_t>(format.bitsPerSample), static_cast<uint32_t>(format.channels),
                   format.samplesPerSec);
}

bool OrvaSound::MakeBuffer(const platform::WaveFormat& format, uint32_t bytes, const char* indent,
                           bool (*fill)(void* target, uint32_t bytes, void* context), void* context)
{
    std::unique_ptr<platform::SoundBuffer> made;
    if (g_device != nullptr) {
        made = g_device->CreateSoundBuffer(format, bytes, nullptr);
    }
    if (made == nullptr) {
        OrvaDebug::Log("%sエラー : サウンドバッファの生成に失敗\n", indent);
        LogUnplayableFormat(format, indent);
        return false;
    }
    void* target = nullptr;
    uint32_t lockedBytes = 0;
    if (!made->Lock(&target, &lockedBytes)) {
        OrvaDebug::Log("%sエラー : バッファのロックに失敗\n", indent);
        return false;
    }
    const bool filled = fill(target, lockedBytes, context);
    made->Unlock();
    if (!filled) {
        return false;
    }
    buffer = std::move(made);
    return true;
}

void OrvaSound::FinishLoad()
{
    loaded = 1;
    playing = 0;
    loop = 0;
    paused = 0;
    buffer->SetCurrentPosition(0);
    buffer->SetVolume(0);
    buffer->SetPan(0);
    OrvaDebug::Log("Complete\n");
}

struct CopySource {
    const uint8_t* data;
    uint32_t size;
};

static bool CopyInto(void* target, uint32_t bytes, void* context)
{
    const CopySource* source = static_cast<const CopySource*>(context);
    std::memcpy(target, source->data, std::min(bytes, source->size));
    return true;
}

int32_t OrvaSound::LoadWave(const char* name)
{
    if (loaded != 0) {
        return 1;
    }
    OrvaApplication::SetCurrentDirectory();
    std::vector<uint8_t> bytes;
    const uint8_t* resource = nullptr;
    size_t resourceSize = 0;
    const bool fromResource = platform::FindResource("WAVE", name, &resource, &resourceSize) ||
                              platform::FindResource(platform::kResourceTypeRawData, name, &resource, &resourceSize);
    if (fromResource) {
        try {
            bytes.assign(resource, resource + resourceSize);
        } catch (const std::bad_alloc&) {
            OrvaDebug::Log("%s /  エラー : ウェーブデータの取得に失敗\n", name);
            return 0;
        }
    }
    OrvaDebug::Log("%s / ", name);
    if (!fromResource) {
        const ReadResult read = ReadWholeFile(name, &bytes);
        if (read == ReadResult::kCannotOpen) {
            // Say so: the next log line would otherwise carry on this one.
            OrvaDebug::Log(" エラー : ファイルが開けません\n");
            return 0;
        }
        if (read != ReadResult::kOk) {
            OrvaDebug::Log(" エラー : ウェーブデータの取得に失敗\n");
            return 0;
        }
    }
    platform::WaveFormat format;
    size_t dataOffset = 0;
    uint32_t dataSize = 0;
    if (!ParseWave(bytes.data(), bytes.size(), &format, &dataOffset, &dataSize)) {
        OrvaDebug::Log(" エラー : ウェーブデータの取得に失敗\n");
        return 0;
    }
    OrvaDebug::Log("DataSize %.3lfMB / ", dataSize * (1.0 / 1048576.0));
    OrvaDebug::Log("%dBit %.1lfKHz / ", static_cast<int32_t>(format.bitsPerSample), format.samplesPerSec * 0.001);
    CopySource source = {bytes.data() + dataOffset, dataSize};
    if (!MakeBuffer(format, dataSize, " ", CopyInto, &source)) {
        return 0;
    }
    FinishLoad();
    return 1;
}

struct PackSource {
    FILE* file;
};

// Reads the entry's samples straight from the pack into the buffer; a pack
// that ends early leaves the load failed, not half filled.
static bool ReadFromPack(void* target, uint32_t bytes, void* context)
{
    const PackSource* source = static_cast<const PackSource*>(context);
    if (std::fread(target, 1, bytes, source->file) != bytes) {
        OrvaDebug::Log("  エラー : データの取得に失敗\n");
        return false;
    }
    return true;
}

int32_t OrvaSound::LoadFromPack(const char* packFile, const char* entryName)
{
    if (loaded != 0) {
        return 1;
    }
    OrvaDebug::Log("%s in %s / ", entryName, packFile);
    OrvaApplication::SetCurrentDirectory();
    std::string path;
    try {
        path = platform::HostPath(packFile);
    } catch (const std::bad_alloc&) {
        path.clear();
    }
    FILE* file = path.empty() ? nullptr : platform::OpenRegularFileStream(path.c_str());
    if (file == nullptr) {
        OrvaDebug::Log("  エラー : パックファイルが開けません\n");
        return 0;
    }
    const int32_t result = LoadFromOpenPack(file, entryName);
    std::fclose(file);
    return result;
}

bool OrvaSound::FindPackEntry(FILE* file, const char* entryName, platform::WaveFormat* format, uint32_t* size)
{
    long fileSize = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        fileSize = std::ftell(file);
    }
    uint8_t magic[kPackMagicBytes] = {};
    if (fileSize < 0 || std::fseek(file, 0, SEEK_SET) != 0 || std::fread(magic, 1, sizeof magic, file) != sizeof magic ||
        std::memcmp(magic, "OSD\0", kPackMagicBytes) != 0) {
        OrvaDebug::Log("  エラー : パックファイルが不正です\n");
        return false;
    }
    const size_t wantedLength = std::strlen(entryName);
    uint64_t at = kPackMagicBytes;
    uint32_t entrySize = 0;
    bool found = false;
    for (;;) {
        char name[kPackNameBytes] = {};
        uint8_t sizeBytes[4] = {};
        if (std::fread(name, 1, sizeof name, file) != sizeof name ||
            std::fread(sizeBytes, 1, sizeof sizeBytes, file) != sizeof sizeBytes) {
            break;
        }
        entrySize = ReadU32(sizeBytes);
        at += kPackNameBytes + 4;
        // The entry's name ends at its zero or at its 32nd byte.
        const size_t length = strnlen(name, sizeof name);
        if (length == wantedLength && std::memcmp(name, entryName, length) == 0) {
            found = true;
            break;
        }
        at += platform::WaveFormat::kBaseBytes + static_cast<uint64_t>(entrySize);
        if (at > static_cast<uint64_t>(fileSize) || std::fseek(file, static_cast<long>(at), SEEK_SET) != 0) {
            break;
        }
    }
    // The format and every sample byte must be in the file.
    if (!found || entrySize == 0 ||
        at + platform::WaveFormat::kBaseBytes + static_cast<uint64_t>(entrySize) > static_cast<uint64_t>(fileSize)) {
        OrvaDebug::Log("  エラー : データの取得に失敗\n");
        return false;
    }
    uint8_t stored[platform::WaveFormat::kBaseBytes] = {};
    if (std::fread(stored, 1, sizeof stored, file) != sizeof stored) {
        OrvaDebug::Log("  エラー : データの取得に失敗\n");
        return false;
    }
    // A pack stores only the 18-byte form: an extensible format cannot be
    // read from it, and no buffer is made for it.
    if (!platform::WaveFormat::Read(stored, sizeof stored, format)) {
        OrvaDebug::Log("  エラー : サウンドバッファの生成に失敗\n");
        return false;
    }
    *size = entrySize;
    return true;
}

int32_t OrvaSound::LoadFromOpenPack(FILE* file, const char* entryName)
{
    platform::WaveFormat format;
    uint32_t size = 0;
    if (!FindPackEntry(file, entryName, &format, &size)) {
        return 0;
    }
    PackSource source = {file};
    if (!MakeBuffer(format, size, "  ", ReadFromPack, &source)) {
        return 0;
    }
    FinishLoad();
    return 1;
}

void OrvaSound::ExecPlay(int32_t loopFlag)
{
    if (loaded == 0) {
        return;
    }
    ExecStop();
    buffer->Play(loopFlag != 0);
    loop = static_cast<uint32_t>(loopFlag);
    playing = 1;
    // Playing afresh is never paused, whatever came before.
    paused = 0;
}

void OrvaSound::ExecStop()
{
    if (loaded == 0 || playing == 0) {
        return;
    }
    buffer->Stop();
    buffer->SetCurrentPosition(0);
    playing = 0;
    loop = 0;
    // A stopped sound is not paused: the next Pause after a Play must pause.
    paused = 0;
}

int32_t OrvaSound::GetPlaying()
{
    if (playing == 0) {
        return 0;
    }
    // A looping sound reports the looping bit as well and so gives 0.
    return buffer->GetStatus() == platform::SoundBuffer::kStatusPlaying ? 1 : 0;
}

void OrvaSound::ExecPause()
{
    if (playing == 0) {
        return;
    }
    if (paused != 0) {
        buffer->Play(loop != 0);
    } else {
        buffer->Stop();
    }
    paused = paused != 0 ? 0 : 1;
}

void OrvaSound::ExecSetVolume(float percent)
{
    if (loaded == 0 || std::isnan(percent)) {
        return;
    }
    buffer->SetVolume(OrvaVolumeToAttenuation(percent));
}

void OrvaSound::ExecSetPan(float pan)
{
    if (loaded == 0 || std::isnan(pan)) {
        return;
    }
    buffer->SetPan(OrvaPanToBalance(pan));
}

void OrvaSound::ReplaceEffects(const platform::EffectKind* kind, const int32_t* preset)
{
    if (loaded == 0) {
        return;
    }
    // Only a sound still heard (or held by pause) starts again: one played
    // once that has reached its end stays silent.
    const bool wasPlaying =
        playing != 0 && (paused != 0 || (buffer->GetStatus() & platform::SoundBuffer::kStatusPlaying) != 0);
    const int32_t wasLooping = static_cast<int32_t>(loop);
    ExecStop();
    buffer->SetEffects(kind, kind != nullptr ? 1 : 0);
    if (preset != nullptr && buffer->GetEffectCount() == 1) {
        // A preset outside the table leaves the reverb at its defaults.
        platform::ReverbParams params;
        if (platform::GetReverbPreset(*preset, &params)) {
            buffer->SetEffectParams(0, params);
        }
    }
    if (wasPlaying) {
        ExecPlay(wasLooping);
    }
}

void OrvaSound::ExecClearEffects()
{
    ReplaceEffects(nullptr, nullptr);
}

void OrvaSound::ExecSetReverb(int32_t preset)
{
    const platform::EffectKind kind = platform::EffectKind::kReverb;
    ReplaceEffects(&kind, &preset);
}

void OrvaSound::ExecSetEcho()
{
    const platform::EffectKind kind = platform::EffectKind::kEcho;
    ReplaceEffects(&kind, nullptr);
}

void OrvaSound::ExecSetChorus()
{
    const platform::EffectKind kind = platform::EffectKind::kChorus;
    ReplaceEffects(&kind, nullptr);
}

void OrvaSound::ExecSetCompressor()
{
    const platform::EffectKind kind = platform::EffectKind::kCompressor;
    ReplaceEffects(&kind, nullptr);
}

void OrvaSound::ExecSetDistortion()
{
    const platform::EffectKind kind = platform::EffectKind::kDistortion;
    ReplaceEffects(&kind, nullptr);
}

void OrvaSound::ExecSetFlanger()
{
    const platform::EffectKind kind = platform::EffectKind::kFlanger;
    ReplaceEffects(&kind, nullptr);
}

void OrvaSound::ExecSetGargle()
{
    const platform::EffectKind kind = platform::EffectKind::kGargle;
    ReplaceEffects(&kind, nullptr);
}

void OrvaSound::ExecSetParamEq()
{
    const platform::EffectKind kind = platform::EffectKind::kParamEq;
    ReplaceEffects(&kind, nullptr);
}

OrvaSound::~OrvaSound()
{
    if (playing != 0 && loaded != 0) {
        buffer->Stop();
        buffer->SetCurrentPosition(0);
        playing = 0;
        loop = 0;
    }
    // Destroying the buffer takes it out of the mixer before its memory goes.
    buffer.reset();
    OrvaDebug::Log("● ReleaseSound / ID [0x%08X]\n", OrvaCommandRing::LogId(this));
}
