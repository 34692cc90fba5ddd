// The settings files are looked at before they are read: what would block or
// swamp the reader is named, a missing file is fine.
#include "core/SettingsFile.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

std::string scratch(const std::string& name)
{
    return testsupport::tempPath("settings_" + name);
}

} // namespace

TEST(SettingsFile, OnlyAbsentOrSmallRegularFilesAreRead)
{
    const std::string missing = scratch("missing.ini");
    ::unlink(missing.c_str());
    EXPECT_EQ(settingsFileProblem(missing), "");

    const std::string small = scratch("small.ini");
    std::ofstream(small) << "[Generic]\nsr_max=2000\n";
    EXPECT_EQ(settingsFileProblem(small), "");

    const std::string atLimit = scratch("limit.ini");
    std::ofstream(atLimit) << std::string(kMaxSettingsFileBytes, '#');
    EXPECT_EQ(settingsFileProblem(atLimit), "");
    std::ofstream(atLimit, std::ios::app) << "#";
    EXPECT_EQ(settingsFileProblem(atLimit), "is too large (1048577 bytes, at most 1048576)");

    // A pipe with no writer: answered at once, not waited on.
    const std::string pipe = scratch("pipe.ini");
    ::unlink(pipe.c_str());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(settingsFileProblem(pipe), "is not a regular file");
    EXPECT_EQ(settingsFileProblem("/dev/zero"), "is not a regular file");
    EXPECT_EQ(settingsFileProblem(testing::TempDir()), "is not a regular file");
    // A path through a file names what the system said.
    EXPECT_EQ(settingsFileProblem(small + "/config.ini"), "cannot be read (Not a directory)");

    ::unlink(small.c_str());
    ::unlink(atLimit.c_str());
    ::unlink(pipe.c_str());
}
