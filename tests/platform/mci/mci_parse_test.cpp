#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/mci/mci.h"
#include "tests/platform/mci/test_mci.h"

using namespace platform;

namespace {

uint32_t Parse(const std::string& text, MciCommand* out = nullptr)
{
    MciCommand scratch;
    return MciParseCommand(text.c_str(), out != nullptr ? out : &scratch);
}

}  // namespace

TEST(MciParse, OpenWithQuotedFileTypeAndAlias)
{
    MciCommand command;
    ASSERT_EQ(Parse("open \"C:\\My Music\\a b.wav\" type WaveAudio alias wave", &command), kMciOk);
    EXPECT_EQ(command.verb, MciVerb::kOpen);
    EXPECT_EQ(command.device, "C:\\My Music\\a b.wav");
    EXPECT_EQ(command.type, "waveaudio");
    EXPECT_EQ(command.alias, "wave");
    EXPECT_FALSE(command.notify);
}

TEST(MciParse, KeywordsAnyOrderAnyCaseWithBlanks)
{
    MciCommand command;
    ASSERT_EQ(Parse("  PLAY cdaudio\tNotify to 3000 FROM 2000 \r\n", &command), kMciOk);
    EXPECT_EQ(command.verb, MciVerb::kPlay);
    EXPECT_EQ(command.device, "cdaudio");
    EXPECT_TRUE(command.notify);
    EXPECT_EQ(command.from, "2000");
    EXPECT_EQ(command.to, "3000");

    ASSERT_EQ(Parse("play wave from 01:02:03", &command), kMciOk);
    EXPECT_EQ(command.from, "01:02:03");
    EXPECT_TRUE(command.to.empty());
}

TEST(MciParse, StatusItemsOfSeveralWords)
{
    MciCommand command;
    ASSERT_EQ(Parse("status cdaudio media present", &command), kMciOk);
    EXPECT_EQ(command.item, MciStatusItem::kMediaPresent);
    ASSERT_EQ(Parse("status cdaudio number of tracks", &command), kMciOk);
    EXPECT_EQ(command.item, MciStatusItem::kNumberOfTracks);
    ASSERT_EQ(Parse("status cdaudio position track 12", &command), kMciOk);
    EXPECT_EQ(command.item, MciStatusItem::kPosition);
    EXPECT_EQ(command.track, 12);
    ASSERT_EQ(Parse("status cdaudio track 3 length", &command), kMciOk);
    EXPECT_EQ(command.item, MciStatusItem::kLength);
    EXPECT_EQ(command.track, 3);
    ASSERT_EQ(Parse("status midi mode", &command), kMciOk);
    EXPECT_EQ(command.item, MciStatusItem::kMode);
    EXPECT_EQ(command.track, 0);
}

TEST(MciParse, SeekAndSet)
{
    MciCommand command;
    ASSERT_EQ(Parse("seek wave to start", &command), kMciOk);
    EXPECT_EQ(command.seekTarget, MciSeekTarget::kStart);
    ASSERT_EQ(Parse("seek cdaudio to 123456", &command), kMciOk);
    EXPECT_EQ(command.seekTarget, MciSeekTarget::kPosition);
    EXPECT_EQ(command.seekPosition, "123456");
    ASSERT_EQ(Parse("set cdaudio time format milliseconds", &command), kMciOk);
    EXPECT_EQ(command.timeFormat, MciTimeFormat::kMilliseconds);
    ASSERT_EQ(Parse("set cdaudio time format tmsf", &command), kMciOk);
    EXPECT_EQ(command.timeFormat, MciTimeFormat::kTmsf);
    ASSERT_EQ(Parse("set cdaudio door open", &command), kMciOk);
    EXPECT_EQ(command.door, MciDoor::kOpen);
}

TEST(MciParse, RefusesMalformedCommands)
{
    EXPECT_EQ(MciParseCommand(nullptr, nullptr), kMciErrorMissingCommand);
    EXPECT_EQ(Parse(""), kMciErrorMissingCommand);
    EXPECT_EQ(Parse("   \t "), kMciErrorMissingCommand);
    EXPECT_EQ(Parse("dance cdaudio"), kMciErrorUnrecognizedCommand);
    EXPECT_EQ(Parse("\"play\" wave"), kMciErrorUnrecognizedCommand);
    EXPECT_EQ(Parse("play"), kMciErrorMissingDeviceName);
    EXPECT_EQ(Parse("open \"\" type waveaudio"), kMciErrorMissingDeviceName);
    EXPECT_EQ(Parse("open \"a.wav type waveaudio alias wave"), kMciErrorNoClosingQuote);
    EXPECT_EQ(Parse("open \"a.wav\"x type waveaudio"), kMciErrorUnrecognizedKeyword);
    EXPECT_EQ(Parse("open a\"b.wav type waveaudio"), kMciErrorUnrecognizedKeyword);
    EXPECT_EQ(Parse("play wave loudly"), kMciErrorUnrecognizedKeyword);
    EXPECT_EQ(Parse("play wave from"), kMciErrorMissingParameter);
    EXPECT_EQ(Parse("play wave from -5"), kMciErrorBadInteger);
    EXPECT_EQ(Parse("play wave from 12abc"), kMciErrorBadInteger);
    EXPECT_EQ(Parse("play wave notify notify"), kMciErrorDuplicateFlags);
    EXPECT_EQ(Parse("play wave from 1 from 2"), kMciErrorDuplicateFlags);
    EXPECT_EQ(Parse("open a.wav alias x alias y"), kMciErrorDuplicateFlags);
    EXPECT_EQ(Parse("open a.wav type"), kMciErrorMissingParameter);
    EXPECT_EQ(Parse("seek wave"), kMciErrorMissingParameter);
    EXPECT_EQ(Parse("seek wave to middle"), kMciErrorBadInteger);
    EXPECT_EQ(Parse("status wave"), kMciErrorMissingParameter);
    EXPECT_EQ(Parse("status wave colour"), kMciErrorUnrecognizedKeyword);
    EXPECT_EQ(Parse("status cdaudio media"), kMciErrorMissingParameter);
    EXPECT_EQ(Parse("status cdaudio number of things"), kMciErrorUnrecognizedKeyword);
    EXPECT_EQ(Parse("status cdaudio mode length"), kMciErrorDuplicateFlags);
    EXPECT_EQ(Parse("status cdaudio mode track 2"), kMciErrorUnrecognizedKeyword);
    EXPECT_EQ(Parse("status cdaudio length track 0"), kMciErrorBadInteger);
    EXPECT_EQ(Parse("status cdaudio length track 100"), kMciErrorBadInteger);
    EXPECT_EQ(Parse("status cdaudio length track x"), kMciErrorBadInteger);
    EXPECT_EQ(Parse("set cdaudio"), kMciErrorMissingParameter);
    EXPECT_EQ(Parse("set cdaudio time format frames"), kMciErrorBadTimeFormat);
    EXPECT_EQ(Parse("set cdaudio time"), kMciErrorMissingParameter);
    EXPECT_EQ(Parse("set cdaudio door ajar"), kMciErrorBadConstant);
    EXPECT_EQ(Parse("stop wave to 5"), kMciErrorUnrecognizedKeyword);
}

TEST(MciParse, RefusesOverlongCommandButTakesOneThatFits)
{
    const std::string name(kMciMaxCommandLength - 40, 'n');
    EXPECT_EQ(Parse("open \"" + name + ".wav\" type waveaudio alias wave"), kMciOk);
    const std::string tooLong(kMciMaxCommandLength, 'n');
    EXPECT_EQ(Parse("open \"" + tooLong + ".wav\" type waveaudio alias wave"), kMciErrorParamOverflow);
}

// Commands built at random from the words the parser knows, quotes and
// stray bytes: every one is answered with a result the interpreter defines,
// and the reply always ends inside its buffer.
TEST(MciParse, SurvivesRandomCommands)
{
    static const char* const kWords[] = {
        "open", "close", "play", "stop", "pause", "resume", "seek", "status", "set", "cdaudio", "wave", "midi",
        "all", "type", "alias", "waveaudio", "sequencer", "notify", "wait", "from", "to", "start", "end", "track",
        "mode", "media", "present", "number", "of", "tracks", "length", "position", "time", "format", "ms", "msf",
        "tmsf", "door", "open", "closed", "0", "1", "99", "100", "2:00:00", "99999999999999999", "\"", "\"a b\"",
        "\t", "x", "\xff", ":",
    };
    // A drive in memory: a random "set cdaudio door open" must not eject a real one.
    MciSetCdDriveOpener(&test_mci::OpenFakeDrive);
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const uint32_t words = next() % 9;
        for (uint32_t w = 0; w < words; ++w) {
            text += kWords[next() % (sizeof kWords / sizeof kWords[0])];
            text += next() % 8 == 0 ? "" : " ";
        }
        MciCommand command;
        const uint32_t result = MciParseCommand(text.c_str(), &command);
        ASSERT_STRNE(MciGetErrorText(result), "unknown error") << text;
        if (round % 40 == 0) {
            char reply[8];
            std::memset(reply, 'z', sizeof reply);
            const uint32_t sent = MciSendString(text.c_str(), reply, sizeof reply, nullptr);
            ASSERT_STRNE(MciGetErrorText(sent), "unknown error") << text;
            ASSERT_NE(std::memchr(reply, '\0', sizeof reply), nullptr) << text;
        }
    }
    MciSendString("close all", nullptr, 0, nullptr);
    MciSetCdDriveOpener(nullptr);
}
