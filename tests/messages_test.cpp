#include "server/messages.h"

#include <gtest/gtest.h>

TEST(Messages, EachLevelHasItsPrefixAndStream)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    logInfo("valid encodings are:");
    logWarning("a %s of %d", "warning", 2);
    logError("sync failed");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "brassel: info: valid encodings are:\n");
    EXPECT_EQ(err, "brassel: warning: a warning of 2\nbrassel: error: sync failed\n");
}
