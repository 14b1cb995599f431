// The forms' arithmetic and texts, without windows: the message box layout,
// skin templates, the headless progress line, bar percentages and the
// download form's result mapping.
#include "CDownloadForm.h"
#include "CMessageBoxLayout.h"
#include "CProgressLine.h"
#include "CSkinProgressBar.h"
#include "SkinText.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

CMessageBoxLayout::Input Box(QSize text)
{
    CMessageBoxLayout::Input in;
    in.top = 30;
    in.bottom = 44;
    in.left = 4;
    in.right = 4;
    in.designedClient = QSize(332, 82);
    in.text = text;
    in.screen = QRect(0, 24, 1024, 720); // a panel of 24 pixels on top
    return in;
}

} // namespace

TEST(MessageBoxLayout, KeepsTheDesignedSizeGrowsForLargeTextAndCentres)
{
    // A short line keeps the designed window: 4 + 332 + 4 by 30 + 82 + 44.
    CMessageBoxLayout::Result small = CMessageBoxLayout::Compute(Box(QSize(120, 15)));
    EXPECT_EQ(small.window.size(), QSize(340, 156));
    EXPECT_EQ(small.window.topLeft(), QPoint((1024 - 340) / 2, 24 + (720 - 156) / 2));
    EXPECT_EQ(small.client, QRect(4, 30, 332, 82));
    EXPECT_EQ(small.text, QRect(4 + (332 - 120) / 2, 30 + (82 - 15) / 2, 120, 15));

    // Exactly the designed width already counts as large: +40; the height
    // stays designed.
    CMessageBoxLayout::Result wide = CMessageBoxLayout::Compute(Box(QSize(332, 30)));
    EXPECT_EQ(wide.client.size(), QSize(372, 82));
    EXPECT_EQ(wide.window.size(), QSize(380, 156));
    // Taller than designed: +60.
    CMessageBoxLayout::Result tall = CMessageBoxLayout::Compute(Box(QSize(200, 150)));
    EXPECT_EQ(tall.client.size(), QSize(332, 210));
    EXPECT_EQ(tall.text.top(), 30 + 30);

    // More than the screen holds: the screen less the panel, centred there,
    // the text clipped to the text area.
    CMessageBoxLayout::Result huge = CMessageBoxLayout::Compute(Box(QSize(3000, 5000)));
    EXPECT_EQ(huge.window, QRect(0, 24, 1024, 720));
    EXPECT_EQ(huge.client, QRect(4, 30, 1016, 720 - 74));
    EXPECT_EQ(huge.text, huge.client);

    // Without a known screen nothing limits the window.
    CMessageBoxLayout::Input noScreen = Box(QSize(3000, 15));
    noScreen.screen = QRect();
    EXPECT_EQ(CMessageBoxLayout::Compute(noScreen).window, QRect(0, 0, 3048, 156));
}

TEST(MessageBoxLayout, ButtonsSitAroundTheCentreOfTheBand)
{
    const QRect band(4, 112, 332, 40); // centre x 170, height 40
    std::vector<QRect> one = CMessageBoxLayout::PlaceButtons(band, {QSize(76, 26)});
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], QRect(170 - 38, 112 + 7, 76, 26));
    std::vector<QRect> two = CMessageBoxLayout::PlaceButtons(band, {QSize(76, 26), QSize(90, 20)});
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].right() + 1, 170 - 10);
    EXPECT_EQ(two[1].left(), 170 + 10);
    EXPECT_EQ(two[1], QRect(180, 122, 90, 20));
    EXPECT_TRUE(CMessageBoxLayout::PlaceButtons(band, {}).empty());
}

TEST(SkinText, FillsTheFirstPlaceholderAndNeverActsAsAFormat)
{
    EXPECT_EQ(FormatSkinText(QStringLiteral("상태 : %s"), QStringLiteral("설치 완료")),
              QStringLiteral("상태 : 설치 완료"));
    EXPECT_EQ(FormatSkinText(QStringLiteral("%s 업데이트"), QString()), QStringLiteral(" 업데이트"));
    EXPECT_EQ(FormatSkinText(QStringLiteral("no placeholder"), QStringLiteral("x")),
              QStringLiteral("no placeholder"));
    // What a printf format would make of these reads memory that is not
    // there; here they stay text.
    EXPECT_EQ(FormatSkinText(QStringLiteral("%d%% %s %s %n %"), QStringLiteral("a")),
              QStringLiteral("%d% a  %n %"));
    // The value is never read as a template.
    EXPECT_EQ(FormatSkinText(QStringLiteral("[%s]"), QStringLiteral("%s%%")), QStringLiteral("[%s%%]"));
}

TEST(ProgressLine, AtMostOneLinePerIntervalAndTheLastStateAtTheEnd)
{
    CProgressLine line(500);
    EXPECT_FALSE(line.Take(0)); // nothing yet
    line.SetStatus(QStringLiteral("설치대상 파일 다운로드 중..."));
    line.SetFileName(QStringLiteral("a.cab"));
    line.SetPercent(5);
    EXPECT_EQ(line.Take(0).value_or(QString()), QStringLiteral("설치대상 파일 다운로드 중...  a.cab  5%"));
    line.SetPercent(6);
    EXPECT_FALSE(line.Take(499));
    line.SetSpeed(QStringLiteral("12KB"));
    EXPECT_EQ(line.Take(500).value_or(QString()),
              QStringLiteral("설치대상 파일 다운로드 중...  a.cab  6%  12KB"));
    // Nothing changed: nothing to print, however long it waits.
    line.SetPercent(6);
    EXPECT_FALSE(line.Take(5000));
    EXPECT_FALSE(line.Flush());
    line.SetStatus(QStringLiteral("설치 완료"));
    EXPECT_TRUE(line.Take(5100));
    // A change too soon after a line waits for the next one, or the end.
    line.SetPercent(100);
    EXPECT_FALSE(line.Take(5200));
    EXPECT_EQ(line.Flush().value_or(QString()), QStringLiteral("설치 완료  a.cab  100%  12KB"));
    EXPECT_FALSE(line.Flush());
}

TEST(DownloadBar, PercentOfTheCurrentFile)
{
    EXPECT_EQ(CSkinProgressBar::PercentOf(0, 1000), 0);
    EXPECT_EQ(CSkinProgressBar::PercentOf(999, 1000), 99);
    EXPECT_EQ(CSkinProgressBar::PercentOf(1000, 1000), 100);
    EXPECT_EQ(CSkinProgressBar::PercentOf(5000, 1000), 100); // more than announced
    EXPECT_EQ(CSkinProgressBar::PercentOf(12345, -1), 100);  // no length: full
    EXPECT_EQ(CSkinProgressBar::PercentOf(12345, 0), 0);     // nothing to do: empty
    EXPECT_EQ(CSkinProgressBar::PercentOf(-5, 1000), 0);
    // Lengths near the top of the range do not overflow.
    EXPECT_EQ(CSkinProgressBar::PercentOf(INT64_MAX / 2, INT64_MAX), 49);
    EXPECT_EQ(CSkinProgressBar::PercentOf(INT64_MAX - 1, INT64_MAX), 99);
}

TEST(DownloadForm, WorkerResultsMapToTheFormsResults)
{
    EXPECT_EQ(CDownloadForm::MapWorkerResult(INSTALL_WORKER_SUCCESS), 1);
    EXPECT_EQ(CDownloadForm::MapWorkerResult(INSTALL_WORKER_CANCELLED), 2);
    EXPECT_EQ(CDownloadForm::MapWorkerResult(INSTALL_WORKER_RESTART), 5);
    EXPECT_EQ(CDownloadForm::MapWorkerResult(INSTALL_WORKER_ERROR), 3);
    EXPECT_EQ(CDownloadForm::MapWorkerResult(0), 3);
    EXPECT_EQ(CDownloadForm::MapWorkerResult(259), 3); // STILL_ACTIVE is no result
}
