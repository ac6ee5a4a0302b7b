// The transfer rate beside the progress bar: formatting, smoothing, a new
// transfer starting over, and the figures withdrawn once reports stop.
#include <gtest/gtest.h>

#include "update/transfer_rate.h"

namespace starfell {
namespace {

TEST(TransferRate, FormatsRatesAndDurations) {
    EXPECT_EQ(rateText(4.2e6), "4.2 MB/s");
    EXPECT_EQ(rateText(380.9e3), "380 kB/s");
    EXPECT_EQ(rateText(999.9), "999 B/s");  // never rounded up into "1000 B/s"
    EXPECT_EQ(durationText(95), "1:35");
    EXPECT_EQ(durationText(94.2), "1:35");  // rounded up: never "0:00 left" while bytes remain
    EXPECT_EQ(durationText(3723), "1:02:03");
    EXPECT_EQ(durationText(-3), "0:00");
}

TEST(TransferRate, SmoothsAndShowsTheTimeLeft) {
    TransferRate rate;
    rate.record(100.0, 0, 10'000'000);
    EXPECT_EQ(rate.text(100.0), "");  // no interval yet
    rate.record(101.0, 1'000'000, 10'000'000);
    EXPECT_EQ(rate.text(101.0), "1.0 MB/s \xC2\xB7 0:09 left");
    // One burst of four times the rate moves the average only part of the way,
    // and within half a second of the last shown figure nothing changes.
    rate.record(101.2, 1'800'000, 10'000'000);
    EXPECT_EQ(rate.text(101.2), "1.0 MB/s \xC2\xB7 0:09 left");
    rate.record(101.6, 2'200'000, 10'000'000);
    const std::string shown = rate.text(101.6);
    EXPECT_NE(shown, "1.0 MB/s \xC2\xB7 0:09 left");
    const double figure = std::stod(shown);
    EXPECT_GT(figure, 1.0);
    EXPECT_LT(figure, 2.0);

    // Fewer bytes: a new transfer, whose figures build up from its own bytes.
    rate.record(102.0, 0, 0);
    EXPECT_EQ(rate.text(102.0), "");
    rate.record(103.0, 500'000, 0);
    EXPECT_EQ(rate.text(103.0), "500 kB/s");  // no total: no time left
    // No report for a while: the download is over and the figures go.
    EXPECT_EQ(rate.text(110.0), "");
}

}  // namespace
}  // namespace starfell
