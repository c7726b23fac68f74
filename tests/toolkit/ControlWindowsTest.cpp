#include "EditTextWindow.h"
#include "ProgressBarWindow.h"

#include <QLineEdit>
#include <QProgressBar>

#include <gtest/gtest.h>

namespace {

TEST(ProgressBarWindow, KeepsLogicalPositionAndClampsTheDisplay)
{
    QProgressBar bar;
    CProgressBarWindow progress(&bar);
    EXPECT_EQ(bar.minimum(), 0);
    EXPECT_EQ(bar.maximum(), 100);
    EXPECT_EQ(progress.SetPos(50), 0);
    EXPECT_EQ(bar.value(), 50);
    EXPECT_EQ(progress.SetPos(150), 50);
    EXPECT_EQ(bar.value(), 100);   // above: full
    EXPECT_EQ(progress.SetPos(-10), 150);  // the logical position, not the shown one
    EXPECT_EQ(bar.value(), 0);     // below: empty
    EXPECT_EQ(progress.GetPos(), -10);

    progress.SetRange32(1000, 5000);
    EXPECT_EQ(bar.minimum(), 1000);
    EXPECT_EQ(bar.maximum(), 5000);
    EXPECT_EQ(bar.value(), 1000);  // -10 is below the new range
    EXPECT_EQ(progress.SetPos(3000), -10);
    EXPECT_EQ(bar.value(), 3000);

    progress.SetRange32(INT32_MIN, INT32_MAX);
    EXPECT_EQ(progress.SetPos(INT32_MAX), 3000);
    EXPECT_EQ(bar.value(), INT32_MAX);
}

TEST(ProgressBarWindow, EmptyRangeIsNoBusyIndicator)
{
    QProgressBar bar;
    CProgressBarWindow progress(&bar);
    progress.SetRange32(5, 5);
    progress.SetPos(5);
    EXPECT_LT(bar.minimum(), bar.maximum());  // min == max would animate
    EXPECT_EQ(bar.value(), bar.minimum());
    progress.SetPos(6);
    EXPECT_EQ(bar.value(), bar.maximum());
    progress.SetRange32(10, 0);
    progress.SetPos(3);
    EXPECT_EQ(bar.value(), bar.minimum());
}

TEST(ProgressBarWindow, WithoutABarKeepsState)
{
    CProgressBarWindow progress(nullptr);
    EXPECT_EQ(progress.SetPos(7), 0);
    EXPECT_EQ(progress.SetPos(8), 7);
}

TEST(EditTextWindow, SetsTheText)
{
    QLineEdit edit;
    edit.setReadOnly(true);
    CEditTextWindow status(&edit);
    CTextWindow& asControl = status;
    asControl.SetWindowText("Programming...");
    EXPECT_EQ(edit.text(), QStringLiteral("Programming..."));
    asControl.SetWindowText("");
    EXPECT_TRUE(edit.text().isEmpty());
    CEditTextWindow none(nullptr);
    none.SetWindowText("ignored");
}

}  // namespace
