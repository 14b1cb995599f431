// The speed window and the texts of "Speed_Txt".
#include "CSpeedWindow.h"

#include <gtest/gtest.h>

TEST(SpeedWindow, TextsFollowTheTable)
{
    EXPECT_EQ(CSpeedWindow::FormatSpeed(0), "");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(1), "0.00KB");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(512), "0.50KB");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(1024), "1.00KB");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(1025), "1KB");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(2047), "1KB");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(1048576), "1024KB");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(1048577), "1MB");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(1073741824), "1024MB");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(1073741825), "1GB");
    EXPECT_EQ(CSpeedWindow::FormatSpeed(std::int64_t(5) << 30), "5GB");
}

TEST(SpeedWindow, ClosesOnlyAfterMoreThanHalfASecond)
{
    CSpeedWindow window(1000);
    EXPECT_EQ(window.Add(1024, 1200), -1);
    EXPECT_EQ(window.Add(1024, 1500), -1); // exactly 500 ms: not yet
    // 3072 bytes in 0.501 s, cut to a whole number.
    EXPECT_EQ(window.Add(1024, 1501), 6131);
    // A new window starts at the close with nothing counted.
    EXPECT_EQ(window.Add(100, 1900), -1);
    EXPECT_EQ(window.Add(0, 2501), 100);
    // A window that saw (almost) nothing gives 0, which leaves the text alone.
    EXPECT_EQ(window.Add(0, 3200), 0);
}
