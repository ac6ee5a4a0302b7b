// The Windows progress callback itself (transfers are tested end to end under Wine).
#include <gtest/gtest.h>

#include "update/downloader_win32.h"

namespace starfell {
namespace {

TEST(DownloaderPercent, IsNeverResetBetweenReports) {
    Downloader callback;
    callback.percent = 100;
    callback.OnProgress(0, 5000, 0, nullptr);
    EXPECT_EQ(callback.percent, 100);
    callback.OnProgress(2500, 5000, 0, nullptr);
    EXPECT_EQ(callback.percent, 50);
}

}  // namespace
}  // namespace starfell
