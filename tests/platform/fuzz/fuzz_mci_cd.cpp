// Fuzz target: the replies of the "cdaudio" device, as the sound module's
// CD operations read them. An input is a disc's table of contents, which a
// drive of our own reports, and a script of CD operations and status
// commands run against it. The module's track table must agree with the
// table of contents whenever the device takes it, every status reply must be
// a number or a time in the format asked for, and nothing may reach past
// the module's track table. Built as a libFuzzer program with clang
// (ORVA_LIBFUZZER); every build also runs it as a regression program over
// discs and scripts it writes itself and deterministic mutations of them:
//
//   fuzz_mci_cd_regression [MUTATIONS]
//   fuzz_mci_cd_regression --write-seeds FOLDER
//
// Input: flags (u8: bit 0 the disc cannot be read), track count (u8), the
// first track's start (i32), each further start and the lead-out as a u24
// step from the one before, then operations of one byte and their argument
// bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/sound/mci.h"
#include "platform/mci/mci.h"
#include "tests/platform/fuzz/fuzz_check.h"
#include "tests/platform/fuzz/fuzz_main_util.h"
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

struct Disc {
    bool readable = true;
    std::vector<int32_t> starts;
    int32_t leadOut = 0;
};

Disc g_disc;
bool g_doorOpen = false;

// Served on the command's thread (the table, the door) and the device's
// reader thread (sectors, which touch nothing shared).
class ScriptedDrive : public platform::CdDrive {
public:
    bool ReadToc(platform::CdToc* out) override
    {
        if (!g_disc.readable || g_doorOpen) {
            return false;
        }
        out->trackStarts = g_disc.starts;
        out->leadOut = g_disc.leadOut;
        return true;
    }
    bool ReadAudio(int32_t sector, int32_t count, uint8_t* out) override
    {
        std::memset(out, sector & 0xFF, size_t(count) * kBytesPerSector);
        return (sector & 31) != 5;
    }
    bool OpenDoor() override
    {
        g_doorOpen = true;
        return true;
    }
    bool CloseDoor() override
    {
        g_doorOpen = false;
        return true;
    }
};

std::unique_ptr<platform::CdDrive> OpenScriptedDrive() { return std::make_unique<ScriptedDrive>(); }

// The table as the device takes it: tracks in order from sector 0 on, at
// most 99, ending before the lead-out, within what a disc can address.
bool DeviceTakes(const Disc& disc)
{
    if (!disc.readable || g_doorOpen || disc.starts.empty() || disc.starts.size() > 99 || disc.starts[0] < 0) {
        return false;
    }
    for (size_t k = 1; k < disc.starts.size(); ++k) {
        if (disc.starts[k] <= disc.starts[k - 1]) return false;
    }
    // Nothing lies at or past 100 minutes, lead-in included.
    return disc.leadOut > disc.starts.back() && disc.leadOut <= 100 * 60 * 75 - 150;
}

int64_t SectorToMs(int64_t sector) { return (sector + 150) * 1000 / platform::CdDrive::kSectorsPerSecond; }

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More() const { return at < size; }
    uint32_t U8() { return at < size ? data[at++] : 0; }
    uint32_t U24() { return U8() | U8() << 8 | U8() << 16; }
    uint32_t U32() { return U24() | U8() << 24; }
};

// Digits only, or groups of digits between colons.
bool IsTimeReply(const char* reply, int groups)
{
    int seen = 0;
    const char* p = reply;
    for (;;) {
        if (*p < '0' || *p > '9') return false;
        while (*p >= '0' && *p <= '9') ++p;
        ++seen;
        if (*p == '\0') return groups == 0 || seen == groups;
        if (*p != ':' || groups == 0) return false;
        ++p;
    }
}

char g_reply[256];

uint32_t Status(const char* command)
{
    g_reply[0] = 'x';
    const uint32_t result = platform::MciSendString(command, g_reply, sizeof g_reply, nullptr);
    FUZZ_CHECK(result == 0 || g_reply[0] == '\0');
    return result;
}

// After ReadCdTracks, which returned `read`. Without a disc the module
// keeps the table it had (its plays look at the media flag first).
void CheckTable(int32_t read)
{
    const int32_t count = OrvaMci::GetCdTrackCount();
    if (!DeviceTakes(g_disc)) {
        FUZZ_CHECK(read == 0 && !OrvaMci::IsCdMediaPresent());
        return;
    }
    FUZZ_CHECK(read == count);
    FUZZ_CHECK(count == int32_t(g_disc.starts.size()) && OrvaMci::IsCdMediaPresent());
    for (int32_t k = 1; k <= count; ++k) {
        const int64_t start = SectorToMs(g_disc.starts[size_t(k) - 1]);
        const int64_t next = SectorToMs(k < count ? g_disc.starts[size_t(k)] : g_disc.leadOut);
        FUZZ_CHECK(OrvaMci::GetCdTrackPosition(k) == start && OrvaMci::GetCdTrackLength(k) == next - start);
    }
    const int64_t length = SectorToMs(g_disc.leadOut) - SectorToMs(g_disc.starts[0]);
    // The end entry holds the disc's length; nothing lies past it.
    FUZZ_CHECK(OrvaMci::GetCdTrackPosition(count + 1) == length && OrvaMci::GetCdTrackLength(count + 1) == 0);
    FUZZ_CHECK(OrvaMci::GetCdTrackPosition(count + 2) == -1 && OrvaMci::GetCdTrackPosition(0) == -1);
}

void RunScript(Reader* in)
{
    bool read = false;
    static const char* const kFormats[] = {"milliseconds", "msf", "tmsf"};
    // The device's time format: msf when opened, milliseconds once the
    // module has read a disc's table, else as the script last set it. Without
    // a disc the module stops reading before it sets the format.
    int format = 1;
    char command[128];
    for (int steps = 0; in->More() && steps < 64; ++steps) {
        // The low four bits choose the operation, the high four a variant.
        const uint32_t op = in->U8();
        const uint32_t variant = op >> 4;
        switch ((op & 0x0F) % 12) {
        case 0:
            CheckTable(OrvaMci::ReadCdTracks());
            read = true;
            if (OrvaMci::IsCdMediaPresent()) {
                format = 0;
            }
            break;
        case 1: {
            const int32_t track = int8_t(in->U8());
            const int32_t position = OrvaMci::GetCdTrackPosition(track);
            const int32_t count = OrvaMci::GetCdTrackCount();
            if (track < 1 || track > count + 1) {
                FUZZ_CHECK(position == -1 && OrvaMci::GetCdTrackLength(track) == -1);
            }
            break;
        }
        case 2: {
            const int32_t first = int8_t(in->U8()), last = int8_t(in->U8());
            const int32_t result = OrvaMci::PlayCdTracks(first, last);
            const int32_t count = OrvaMci::GetCdTrackCount();
            const bool valid = first >= 1 && first <= count && last >= 1 && last <= count;
            if (!OrvaMci::IsCdMediaPresent()) {
                FUZZ_CHECK(result == 0);
            } else if (read && !valid) {
                FUZZ_CHECK(result == count);
            }
            break;
        }
        case 3: OrvaMci::PlayCdTrackLoop(int8_t(in->U8())); break;
        case 4: OrvaMci::PlayCdAll(); break;
        case 5: OrvaMci::StopCd(); break;
        case 6: OrvaMci::PauseCd(); break;
        case 7:
        {
            const int wanted = int(in->U8() % 3);
            std::snprintf(command, sizeof command, "set cdaudio time format %s", kFormats[wanted]);
            if (Status(command) == 0) {
                format = wanted;
            }
            break;
        }
        case 8: {
            const uint32_t track = in->U8();
            const char* item = variant & 1 ? "length" : "position";
            if (track == 0) {
                std::snprintf(command, sizeof command, "status cdaudio %s", item);
            } else {
                std::snprintf(command, sizeof command, "status cdaudio %s track %u", item, track);
            }
            if (Status(command) == 0) {
                // A length is never given track by track.
                const int groups = format == 0 ? 0 : format == 2 && item[0] == 'p' ? 4 : 3;
                FUZZ_CHECK(IsTimeReply(g_reply, groups));
            }
            break;
        }
        case 9: {
            static const char* const kItems[] = {"mode", "current track", "number of tracks", "media present",
                                                 "ready", "time format"};
            std::snprintf(command, sizeof command, "status cdaudio %s", kItems[in->U8() % 6]);
            Status(command);
            break;
        }
        case 10: {
            const uint32_t to = in->U32();
            if (variant % 3 == 0) {
                std::snprintf(command, sizeof command, "seek cdaudio to %u", to);
            } else {
                std::snprintf(command, sizeof command, "seek cdaudio to %s", variant % 3 == 1 ? "start" : "end");
            }
            Status(command);
            break;
        }
        default:
            if (variant & 1) {
                OrvaMci::EjectCd();
            } else {
                Status("set cdaudio door closed");
            }
            OrvaMci::OnNotify(OrvaMci::kNotifySuccessful, 0);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = [] {
        // Plays go to the audio device that renders into memory.
        setenv("ORVA_AUDIO", "null", 1);
        platform::MciSetCdDriveOpener(&OpenScriptedDrive);
        return true;
    }();
    (void)ready;
    Reader in{data, size};
    g_disc = Disc();
    g_doorOpen = false;
    g_disc.readable = (in.U8() & 1) == 0;
    const uint32_t tracks = in.U8();
    int64_t sector = int32_t(in.U32());
    for (uint32_t k = 0; k < tracks; ++k) {
        g_disc.starts.push_back(int32_t(sector));
        sector += in.U24();
    }
    g_disc.leadOut = int32_t(sector);
    FUZZ_CHECK(OrvaMci::OpenCd() == 0);
    RunScript(&in);
    OrvaMci::CloseCd();
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
namespace {

using Bytes = std::vector<uint8_t>;

using fuzzrun::Random;

void Put(Bytes* b, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) b->push_back(uint8_t(v >> (8 * i)));
}

// A disc of `tracks` tracks `length` sectors long each, from `first` on.
Bytes Disc(uint8_t flags, uint8_t tracks, int32_t first, uint32_t length, const Bytes& script)
{
    Bytes b = {flags, tracks};
    Put(&b, uint32_t(first), 4);
    for (int k = 0; k < tracks; ++k) Put(&b, length + uint32_t(k) * 75, 3);
    b.insert(b.end(), script.begin(), script.end());
    return b;
}

void Mutate(Bytes* b, Random* r)
{
    static const uint32_t kInteresting[] = {0, 1, 99, 100, 126, 127, 255, 0xFFFFFF, 0x7FFFFFFF, 0x80000000u,
                                            0xFFFFFFFFu, 449999, 450000};
    const uint32_t value = kInteresting[r->Below(13)];
    switch (r->Below(6)) {
    case 0: if (b->size() > 1) (*b)[1] = uint8_t(value); break;
    case 1:
        if (b->size() >= 4) {
            const size_t at = r->Below(b->size() - 3);
            for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(value >> (8 * i));
        }
        break;
    case 2: b->resize(r->Below(b->size() + 1)); break;
    case 3: b->push_back(uint8_t(r->Next())); b->push_back(uint8_t(r->Below(40))); break;
    case 4: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Below(12)); break;
    default: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Scripts: read the table, ask for positions and lengths in every time
    // format, play, pause, seek, eject and close the door again.
    const Bytes readAndAsk = {0, 1, 1, 1, 0xFE, 1, 7, 1, 8, 3, 0x18, 3, 7, 2, 8, 2, 8, 0, 9, 1, 9, 5};
    const Bytes play = {0, 2, 1, 2, 9, 0, 6, 9, 0, 6, 8, 0, 3, 2, 5, 4, 10, 0x10, 0, 0, 0, 0, 10, 0x20, 0, 0, 0, 0,
                        10, 0x00, 0x40, 0x42, 0x0F, 0x00, 0, 5};
    const Bytes door = {0, 11 | 0x10, 0, 11, 0, 2, 1, 1, 5};
    const std::vector<Bytes> seeds = {
        Disc(0, 1, 0, 20000, readAndAsk),
        Disc(0, 12, 0, 16000, play),
        Disc(0, 99, 32, 300, readAndAsk),
        Disc(0, 3, 0, 5000, door),
        Disc(1, 2, 0, 100, readAndAsk),
        Disc(0, 0, 0, 0, readAndAsk),
    };
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
    fuzzrun::Random random(0x5BE0CD19137E2179ull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
