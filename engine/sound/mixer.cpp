#include "engine/sound/mixer.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "engine/core/debug.h"
#include "platform/mixer/mixer.h"

// What the module knows of one line.
struct MixerRecord {
    uint32_t supported = 0;    // 1 when a volume control was found for the line
    uint32_t savedVolume = 0;  // the line's volume when the module started
    platform::MixerControlInfo control;  // the line's volume control
    uint32_t value = 0;        // the volume last read or to be written
    platform::MixerLineInfo line;        // as the enumeration found it
};

static uint32_t g_started = 0;
static MixerRecord g_records[OrvaMixer::kLineCount];

static bool IsLineIndex(int32_t line)
{
    return line >= 0 && line < OrvaMixer::kLineCount;
}

// Refuses an index from outside with a log line naming the caller.
static bool CheckLine(const char* operation, int32_t line)
{
    if (IsLineIndex(line)) {
        return true;
    }
    OrvaDebug::Log("  エラー : %s : ライン番号 %d は範囲外です (0 - %d)\n", operation, line, OrvaMixer::kLineCount - 1);
    return false;
}

// The module talks to mixer device 0 only.
static std::unique_ptr<platform::MixerDevice> OpenMixer()
{
    std::unique_ptr<platform::MixerDevice> mixer = platform::MixerSystem::Open(0);
    if (mixer == nullptr) {
        OrvaDebug::Log("  エラー : ミキサーデバイスのオープンに失敗\n");
    }
    return mixer;
}

// The line's control may have gone since start-up (a device that changed):
// look it up again on this open device, so that nothing is written to a
// control that is no longer the line's.
static bool RefindControl(platform::MixerDevice* mixer, int32_t line)
{
    if (OrvaMixer::FindVolumeControl(mixer, g_records[line].line, line) != 0) {
        return true;
    }
    OrvaDebug::Log("  エラー : ライン %d の音量コントロールが見つかりません\n", line);
    return false;
}

int32_t OrvaMixer::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize Audio Mixer\n");
    // A second start would record the volumes as the program has set them and
    // lose the ones to put back at the end.
    if (g_started != 0) {
        OrvaDebug::Log("  ■ ミキサーは初期化済みです (起動時の音量を保持)\n");
        return 1;
    }
    for (MixerRecord& record : g_records) {
        record = MixerRecord();
    }
    g_started = 0;

    const uint32_t devices = platform::MixerSystem::GetDeviceCount();
    if (devices == 0) {
        OrvaDebug::Log("  エラー : ミキサーデバイスがありません\n");
        return 0;
    }
    OrvaDebug::Log("  ■ ミキサーデバイス数 %u\n", devices);

    std::unique_ptr<platform::MixerDevice> mixer = OpenMixer();
    if (mixer == nullptr) {
        return 0;
    }
    const int32_t enumerated = EnumLines(0, mixer.get());
    mixer.reset();
    // A device whose capabilities cannot be read has no lines to offer: the
    // module stays not started rather than report a usable mixer.
    if (enumerated == 0) {
        return 0;
    }

    for (MixerRecord& record : g_records) {
        record.savedVolume = record.supported != 0 ? record.value : 0;
    }
    g_started = 1;
    return 1;
}

void OrvaMixer::Destroy()
{
    RestoreVolumes();
    // Stopped is as before the start: no lines known, nothing saved.
    for (MixerRecord& record : g_records) {
        record = MixerRecord();
    }
    g_started = 0;
}

int32_t OrvaMixer::EnumLines(uint32_t device, platform::MixerDevice* mixer)
{
    platform::MixerDeviceCaps caps;
    if (mixer == nullptr || !mixer->GetCaps(&caps)) {
        OrvaDebug::Log("  ミキサーデバイス情報の取得に失敗\n");
        return 0;
    }
    // The capabilities come from the open device; the number only names it.
    (void)device;

    for (uint32_t d = 0; d < caps.destinations; ++d) {
        platform::MixerLineInfo destination;
        if (!mixer->GetDestination(d, &destination)) {
            continue;
        }
        OrvaDebug::Log("    ○デバイスNo.%02d \"%s\" [%s]\n", d, destination.name.c_str(),
                       destination.shortName.c_str());
        if (destination.kind != platform::MixerLineKind::Speakers) {
            continue;
        }
        OrvaDebug::Log("       スピーカーに接続\n");
        // Sources are only taken from a speaker output whose own volume is
        // under our control.
        if (FindVolumeControl(mixer, destination, kLineSpeaker) == 0) {
            continue;
        }
        g_records[kLineSpeaker].supported = 1;
        OrvaDebug::Log("       ライン出力をサポート\n");

        for (uint32_t s = 0; s < destination.connections; ++s) {
            platform::MixerLineInfo source;
            if (!mixer->GetSource(d, s, &source)) {
                continue;
            }
            int32_t line = -1;
            const char* message = nullptr;
            switch (source.kind) {
            case platform::MixerLineKind::WaveOut:
                line = kLineWave;
                message = "            ・WAVE OUTボリュームコントロールをサポート\n";
                break;
            case platform::MixerLineKind::Synthesizer:
                line = kLineSynthesizer;
                message = "            ・SYNTHESIZERボリュームコントロールをサポート\n";
                break;
            case platform::MixerLineKind::CompactDisc:
                line = kLineCompactDisc;
                message = "            ・ANALOG-CDAUDIOボリュームコントロールをサポート\n";
                break;
            default:
                break;
            }
            // The first line of each kind is the one we keep.
            if (line < 0 || g_records[line].supported != 0) {
                continue;
            }
            if (FindVolumeControl(mixer, source, line) != 0) {
                g_records[line].supported = 1;
                OrvaDebug::Log("%s", message);
            }
        }
    }
    return 1;
}

int32_t OrvaMixer::FindVolumeControl(platform::MixerDevice* mixer, const platform::MixerLineInfo& line, int32_t index)
{
    if (!CheckLine("FindVolumeControl", index) || mixer == nullptr) {
        return 0;
    }
    std::vector<platform::MixerControlInfo> controls;
    if (!mixer->GetControls(line.id, &controls)) {
        return 0;
    }
    for (const platform::MixerControlInfo& control : controls) {
        if (control.type != platform::kMixerControlTypeVolume) {
            continue;
        }
        uint32_t value = 0;
        if (!mixer->GetVolume(control.id, &value)) {
            continue;
        }
        MixerRecord& record = g_records[index];
        try {
            // Copy the line first: it may be this record's own line.
            platform::MixerLineInfo found = line;
            record.control = control;
            record.line = std::move(found);
        } catch (const std::bad_alloc&) {
            OrvaDebug::Log("  エラー : FindVolumeControl : メモリ不足\n");
            return 0;
        }
        record.value = value;
        return 1;
    }
    return 0;
}

int32_t OrvaMixer::ApplyVolume(platform::MixerDevice* mixer, int32_t line)
{
    if (!CheckLine("ApplyVolume", line) || mixer == nullptr) {
        return 0;
    }
    // An unsupported record holds no control of its own: writing it would
    // reach whichever control happens to carry its empty id.
    const MixerRecord& record = g_records[line];
    if (record.supported == 0) {
        return 0;
    }
    return mixer->SetVolume(record.control.id, record.value) ? 1 : 0;
}

int32_t OrvaMixer::SetVolume(int32_t line, int32_t volume)
{
    if (!CheckLine("SetVolume", line)) {
        return 0;
    }
    if (g_started == 0) {
        OrvaDebug::Log("  エラー : SetVolume : ミキサーが初期化されていません\n");
        return 0;
    }
    if (g_records[line].supported == 0) {
        OrvaDebug::Log("  エラー : SetVolume : ライン %d は音量コントロールがありません\n", line);
        return 0;
    }
    int32_t clamped = volume;
    if (clamped < 0) {
        clamped = 0;
    } else if (clamped > kVolumeMax) {
        clamped = kVolumeMax;
    }
    if (clamped != volume) {
        OrvaDebug::Log("  SetVolume : 音量 %d を %d に補正\n", volume, clamped);
    }

    std::unique_ptr<platform::MixerDevice> mixer = OpenMixer();
    if (mixer == nullptr) {
        return 0;
    }
    if (!RefindControl(mixer.get(), line)) {
        return 0;
    }
    g_records[line].value = static_cast<uint32_t>(clamped);
    const int32_t result = ApplyVolume(mixer.get(), line);
    if (result == 0) {
        OrvaDebug::Log("  エラー : ライン %d の音量設定に失敗\n", line);
    }
    return result;
}

int32_t OrvaMixer::GetVolume(int32_t line)
{
    if (!CheckLine("GetVolume", line)) {
        return -1;
    }
    if (g_started == 0) {
        OrvaDebug::Log("  エラー : GetVolume : ミキサーが初期化されていません\n");
        return -1;
    }
    if (g_records[line].supported == 0) {
        OrvaDebug::Log("  エラー : GetVolume : ライン %d は音量コントロールがありません\n", line);
        return -1;
    }
    std::unique_ptr<platform::MixerDevice> mixer = OpenMixer();
    if (mixer == nullptr || !RefindControl(mixer.get(), line)) {
        return -1;
    }
    return static_cast<int32_t>(g_records[line].value);
}

uint32_t OrvaMixer::GetSavedVolume(int32_t line)
{
    if (!CheckLine("GetSavedVolume", line)) {
        return 0;
    }
    return g_records[line].savedVolume;
}

void OrvaMixer::RestoreVolumes()
{
    if (g_started == 0) {
        return;
    }
    for (int32_t line = 0; line < kLineCount; ++line) {
        MixerRecord& record = g_records[line];
        if (record.supported == 0) {
            continue;
        }
        std::unique_ptr<platform::MixerDevice> mixer = OpenMixer();
        if (mixer == nullptr || !RefindControl(mixer.get(), line)) {
            continue;
        }
        record.value = record.savedVolume <= static_cast<uint32_t>(kVolumeMax) ? record.savedVolume : kVolumeMax;
        if (ApplyVolume(mixer.get(), line) == 0) {
            OrvaDebug::Log("  エラー : ライン %d の音量設定に失敗\n", line);
        }
    }
}

bool OrvaMixer::IsStarted()
{
    return g_started != 0;
}

bool OrvaMixer::IsSupported(int32_t line)
{
    return IsLineIndex(line) && g_records[line].supported != 0;
}
