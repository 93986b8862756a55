#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/image/image.h"
#include "platform/sys/file.h"
#include "tests/engine/render/osf_test_data.h"
#include "tests/tools/tool_run.h"

// Every tool that prints a listing fails, saying why, when the listing
// cannot be written: to a full device, or past the file-size limit.
TEST(ToolOutput, EveryToolSaysItsListingCouldNotBeWritten)
{
    const std::string folder = ::testing::TempDir();
    const std::string image = folder + "tool_output.bmp";
    const std::string archive = folder + "tool_output.oag";
    const std::string osf = folder + "tool_output.osf";
    const uint32_t pixel = 0xFF112233u;
    std::string out;
    ASSERT_TRUE(platform::WriteBmp24(image.c_str(), &pixel, 1, 1, 4, &out)) << out;
    ASSERT_EQ(tooltest::Run(OAG_PACK_EXE, "create " + archive + " dot=" + image, &out), 0) << out;
    const std::vector<uint8_t> scene = osftest::Bytes(osftest::Demo());
    ASSERT_TRUE(platform::WriteWholeFile(osf.c_str(), scene.data(), scene.size(), &out)) << out;
    setenv("ORVA_WINDOW", "headless", 1);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    struct Tool {
        std::string command;
        const char* name;
    };
    const Tool tools[] = {
        {std::string(OAG_PACK_EXE) + " list " + archive, "oag-pack"},
        {std::string(OSF_DUMP_EXE) + " " + osf, "osf-dump"},
        {std::string(PATTERN_TRACE_EXE) + " --id 3 --difficulty 2 --clock 35", "pattern-trace"},
        {std::string(APP_SMOKE_EXE) + " --frames 2 --size 8x8", "orva-app-smoke"},
    };
    const std::string listing = folder + "tool_output.txt";
    struct Where {
        const char* before;
        std::string redirect;
        const char* says;
    };
    const Where places[] = {
        {"", " >/dev/full", "No space left on device"},
        {"ulimit -f 0; ", " >" + listing, "File too large"},
    };
    for (const Tool& tool : tools) {
        ASSERT_EQ(tooltest::Run(tool.command.c_str(), ">/dev/null", &out), 0) << tool.command << ": " << out;
        for (const Where& where : places) {
            remove(listing.c_str());
            // The tool's own stderr reaches the pipe; its stdout the place.
            const std::string command = std::string(where.before) + "{ " + tool.command + where.redirect + "; }";
            EXPECT_EQ(tooltest::Run(command.c_str(), "", &out), 1) << command << ": " << out;
            EXPECT_NE(out.find(std::string(tool.name) + ": cannot write the output: " + where.says), std::string::npos)
                << command << ": " << out;
        }
    }
}
