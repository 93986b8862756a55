#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <random>

#include "platform/audio/audio.h"
#include "platform/midi/midi.h"
#include "tests/platform/midi/test_midi_files.h"

using namespace test_midi;
using platform::MidiResult;
using platform::MidiSong;
using platform::MidiSynth;

static std::unique_ptr<MidiSong> ParseBytes(const Bytes& bytes, MidiResult* result)
{
    return MidiSong::Parse(bytes.data(), bytes.size(), result);
}

TEST(MidiSong, MergesTracksInTimeThroughTheTempoMap)
{
    // Track 0 doubles the tempo after one quarter; track 1 plays a note on
    // each of the first three quarters, the middle one by running status.
    Track tempo;
    tempo.Tempo(96, 250000).End(0);
    Track notes;
    notes.Event(0, {0x91, 60, 100}).Event(96, {62, 100}).Event(96, {0x81, 64, 0}).End(96);
    MidiResult result = MidiResult::kUnreadable;
    std::unique_ptr<MidiSong> song = ParseBytes(Song(1, kDivision, {tempo, notes}), &result);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(result, MidiResult::kOk);
    const std::vector<platform::MidiEvent>& events = song->GetEvents();
    ASSERT_EQ(events.size(), 3u);
    // 0.5 s for the first quarter, 0.25 s for each after the change.
    EXPECT_EQ(events[0].frame, 0);
    EXPECT_EQ(events[1].frame, 22050);
    EXPECT_EQ(events[1].status, 0x91);
    EXPECT_EQ(events[1].data1, 62);
    EXPECT_EQ(events[2].frame, 22050 + 11025);
    EXPECT_EQ(events[2].status, 0x81);
    EXPECT_EQ(song->GetLength(), 22050 + 2 * 11025);
}

TEST(MidiSong, KeepsWholeSystemExclusiveMessagesAndSmpteTime)
{
    // 25 frames a second, 40 ticks a frame: a tick is a millisecond.
    Track track;
    track.Event(0, {0xF0, 0x03, 0x41, 0x10, 0xF7}).Event(0, {0xF7, 0x01, 0x42}).Event(500, {0x90, 60, 1}).End(500);
    std::unique_ptr<MidiSong> song = ParseBytes(Song(0, 0xE728, {track}), nullptr);
    ASSERT_NE(song, nullptr);
    ASSERT_EQ(song->GetEvents().size(), 2u);
    EXPECT_EQ(song->GetEvents()[0].status, 0xF0);
    ASSERT_EQ(song->GetEvents()[0].sysexSize, 2u);
    EXPECT_EQ(song->GetSysexBytes()[song->GetEvents()[0].sysexOffset + 1], 0x10);
    EXPECT_EQ(song->GetEvents()[1].frame, 22050);
    EXPECT_EQ(song->GetLength(), 44100);
}

TEST(MidiSong, RefusesBrokenFilesCleanly)
{
    const Bytes good = OneNote(48, 96);
    struct Case {
        const char* what;
        Bytes bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    Bytes badMagic = good;
    badMagic[0] = 'X';
    cases.push_back({"not MThd", badMagic});
    Bytes longHeader = good;
    longHeader[7] = 0xFF;  // header length past the end
    cases.push_back({"header length", longHeader});
    Bytes longTrack = good;
    longTrack[21] = 0xFF;  // track length past the end
    cases.push_back({"track length", longTrack});
    Bytes hugeTrack = good;
    hugeTrack[18] = 0xFF;  // 4 GB track
    cases.push_back({"huge track length", hugeTrack});
    Bytes missingTrack = good;
    missingTrack[11] = 2;  // two tracks declared, one present
    cases.push_back({"missing track", missingTrack});
    Bytes zeroDivision = good;
    zeroDivision[12] = zeroDivision[13] = 0;
    cases.push_back({"zero division", zeroDivision});
    Track noStatus;
    noStatus.Event(0, {60, 100}).End(0);
    cases.push_back({"running status without a status", Song(0, kDivision, {noStatus})});
    Track longNumber;
    longNumber.Event(0, {}).bytes.insert(longNumber.bytes.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 1});
    cases.push_back({"five-byte delta", Song(0, kDivision, {longNumber})});
    Track longMeta;
    longMeta.Event(0, {0xFF, 0x01, 0x7F, 'a'});
    cases.push_back({"meta past the track", Song(0, kDivision, {longMeta})});
    Track longSysex;
    longSysex.Event(0, {0xF0, 0x8F, 0x7F, 0xF7});
    cases.push_back({"sysex past the track", Song(0, kDivision, {longSysex})});
    Track cutNote;
    cutNote.Event(0, {0x90, 60});
    cases.push_back({"note cut short", Song(0, kDivision, {cutNote})});
    Track highData;
    highData.Event(0, {0x90, 0xC0, 1}).End(0);
    cases.push_back({"data byte with its top bit", Song(0, kDivision, {highData})});
    for (const Case& c : cases) {
        MidiResult result = MidiResult::kOk;
        EXPECT_EQ(ParseBytes(c.bytes, &result), nullptr) << c.what;
        EXPECT_EQ(result, MidiResult::kMalformed) << c.what;
    }
}

TEST(MidiSong, EveryCutOfAFileEitherParsesOrFailsWithinItsBytes)
{
    Track track;
    track.Event(0, {0xC0, 5}).Event(0, {0xF0, 0x02, 0x01, 0xF7}).Tempo(0, 400000).Event(0, {0x90, 60, 90});
    track.Event(10, {0xE0, 0x00, 0x50}).Event(10, {0x80, 60, 0}).End(20);
    const Bytes whole = Song(0, kDivision, {track});
    ASSERT_NE(ParseBytes(whole, nullptr), nullptr);
    // Each prefix is copied to a buffer of its own size, so a read past the
    // end shows under AddressSanitizer.
    for (size_t size = 0; size < whole.size(); ++size) {
        const Bytes cut(whole.begin(), whole.begin() + size);
        std::unique_ptr<MidiSong> song = ParseBytes(cut, nullptr);
        // A cut track chunk is refused: its length no longer fits.
        EXPECT_EQ(song, nullptr) << size;
    }
    // Random bytes inside the track never read outside it.
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        Bytes mutated = whole;
        for (int k = 0; k < 3; ++k) {
            mutated[22 + random() % (mutated.size() - 22)] = static_cast<uint8_t>(random());
        }
        std::unique_ptr<MidiSong> song = ParseBytes(mutated, nullptr);
        if (song != nullptr) {
            for (const platform::MidiEvent& event : song->GetEvents()) {
                ASSERT_LE(size_t{event.sysexOffset} + event.sysexSize, song->GetSysexBytes().size());
                ASSERT_LE(event.frame, song->GetLength());
            }
        }
    }
}

TEST(MidiSong, LoadReadsFilesAndReportsMissingOnes)
{
    MidiResult result = MidiResult::kOk;
    EXPECT_EQ(MidiSong::Load(TempFile("absent.mid").c_str(), &result), nullptr);
    EXPECT_EQ(result, MidiResult::kUnreadable);
    const std::string fifo = TempFile("fifo.mid");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(MidiSong::Load(fifo.c_str(), &result), nullptr);
    EXPECT_EQ(result, MidiResult::kUnreadable);
    std::remove(fifo.c_str());
    const std::string path = TempFile("one.mid");
    ASSERT_TRUE(WriteFile(path, OneNote(48, 96)));
    std::unique_ptr<MidiSong> song = MidiSong::Load(path.c_str(), &result);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->GetLength(), 22050);
    std::remove(path.c_str());
}

class MidiSynthTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        if (!platform::IsSoundFontAvailable()) {
            GTEST_SKIP() << "no General MIDI SoundFont at " << platform::GetSoundFontPath();
        }
        synth = MidiSynth::Create(nullptr);
        ASSERT_NE(synth, nullptr);
    }
    static std::vector<float> Render(size_t frames)
    {
        std::vector<float> out(frames * 2);
        EXPECT_TRUE(platform::AudioDevice::Render(out.data(), frames));
        return out;
    }
    std::unique_ptr<MidiSynth> synth;
};

TEST_F(MidiSynthTest, PlaySoundsAndStopSilencesAtOnce)
{
    std::unique_ptr<MidiSong> song = ParseBytes(OneNote(96, 192), nullptr);
    ASSERT_NE(song, nullptr);
    EXPECT_TRUE(IsSilent(Render(2048)));
    synth->Play(song.get(), 0, false);
    EXPECT_TRUE(synth->IsPlaying());
    const std::vector<float> heard = Render(4410);
    EXPECT_GT(Rms(heard, 0, 4410), 0.005);
    EXPECT_EQ(synth->GetPosition(), 4410);
    synth->Stop();
    EXPECT_FALSE(synth->IsPlaying());
    EXPECT_TRUE(IsSilent(Render(2048)));
}

TEST_F(MidiSynthTest, VolumeAndBalanceScaleTheOutput)
{
    std::unique_ptr<MidiSong> song = ParseBytes(OneNote(192, 192), nullptr);
    synth->Play(song.get(), 0, false);
    const std::vector<float> full = Render(8820);
    synth->Play(song.get(), 0, false);
    ASSERT_TRUE(synth->SetVolume(-600));
    const std::vector<float> lower = Render(8820);
    // The same notes from the start again, 6 dB down.
    EXPECT_NEAR(Rms(lower, 0, 8820) / Rms(full, 0, 8820), std::pow(10.0, -0.3), 0.01);
    EXPECT_FALSE(synth->SetVolume(1));
    EXPECT_FALSE(synth->SetBalance(-10001));
    ASSERT_TRUE(synth->SetVolume(0));
    ASSERT_TRUE(synth->SetBalance(10000));
    const std::vector<float> right = Render(1000);
    for (size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(right[2 * i], 0.0f);
    }
    EXPECT_GT(Rms(right, 0, 1000), 0.001);
}

TEST_F(MidiSynthTest, ARepeatingSongStartsAgainAndAnotherEnds)
{
    // A note for the first 1/8 s of a 1/4 s song.
    std::unique_ptr<MidiSong> song = ParseBytes(OneNote(24, 48), nullptr);
    ASSERT_EQ(song->GetLength(), 11025);
    synth->Play(song.get(), 0, true);
    const std::vector<float> looping = Render(3 * 11025);
    EXPECT_TRUE(synth->IsPlaying());
    EXPECT_EQ(synth->GetPosition(), 11025);
    synth->Play(song.get(), 0, false);
    const std::vector<float> once = Render(3 * 11025);
    EXPECT_FALSE(synth->IsPlaying());
    EXPECT_EQ(synth->GetPosition(), 11025);
    // The first pass is the same either way; the later ones sound only when
    // the song repeats (the released note has died away by then).
    EXPECT_NEAR(Rms(looping, 0, 2000), Rms(once, 0, 2000), 0.01 * Rms(once, 0, 2000));
    EXPECT_GT(Rms(looping, 11025, 13025), 0.5 * Rms(looping, 0, 2000));
    EXPECT_GT(Rms(looping, 22050, 24050), 0.5 * Rms(looping, 0, 2000));
    EXPECT_LT(Rms(once, 22050, 24050), 0.01 * Rms(once, 0, 2000));
}

TEST_F(MidiSynthTest, PlayFromAPointKeepsTheProgramsSetBefore)
{
    // Organ (program 19) chosen at the start; the note starts at 1/2 s.
    Track track;
    track.Event(0, {0xC0, 19}).Event(96, {0x90, 72, 100}).Event(96, {0x80, 72, 0}).End(0);
    std::unique_ptr<MidiSong> song = ParseBytes(Song(0, kDivision, {track}), nullptr);
    synth->Play(song.get(), 0, false);
    Render(22050);
    const std::vector<float> fromStart = Render(4000);
    synth->Play(song.get(), 22050, false);
    const std::vector<float> fromMiddle = Render(4000);
    EXPECT_GT(Rms(fromStart, 0, 4000), 0.001);
    EXPECT_NEAR(Rms(fromMiddle, 0, 4000), Rms(fromStart, 0, 4000), 0.02 * Rms(fromStart, 0, 4000));
}

TEST(MidiSynth, AMissingSoundFontIsACleanFailure)
{
    setenv("ORVA_AUDIO", "null", 1);
    setenv("ORVA_SOUNDFONT", "/nonexistent/none.sf2", 1);
    EXPECT_FALSE(platform::IsSoundFontAvailable());
    MidiResult result = MidiResult::kOk;
    EXPECT_EQ(MidiSynth::Create(&result), nullptr);
    EXPECT_EQ(result, MidiResult::kNoSoundFont);
    // A file that is not a SoundFont is refused the same way.
    const std::string fake = TempFile("fake.sf2");
    ASSERT_TRUE(WriteFile(fake, OneNote(1, 2)));
    setenv("ORVA_SOUNDFONT", fake.c_str(), 1);
    EXPECT_EQ(MidiSynth::Create(&result), nullptr);
    EXPECT_EQ(result, MidiResult::kNoSoundFont);
    unsetenv("ORVA_SOUNDFONT");
    std::remove(fake.c_str());
}
