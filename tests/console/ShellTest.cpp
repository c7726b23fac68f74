// The system menu's About entry, the window icon and the minimised icon.
#include "ConsoleFixture.h"

#include "AboutDlg.h"

#include <QPainter>

TEST(MinimisedIcon, IsCentredRoundingTowardZero)
{
    struct Case {
        int w, h, iw, ih, x, y;
    };
    for (const Case& c : {Case{32, 32, 32, 32, 0, 0}, Case{100, 50, 32, 32, 34, 9},
                          Case{33, 34, 32, 32, 1, 1}, Case{20, 10, 32, 32, -5, -10},
                          Case{0, 0, 16, 16, -7, -7}, Case{2147483647, 2147483647, 0, 0, 1073741824, 1073741824}})
        EXPECT_EQ(MinimisedIconOrigin(c.w, c.h, c.iw, c.ih), QPoint(c.x, c.y))
            << c.w << "x" << c.h << " icon " << c.iw << "x" << c.ih;
}

TEST_F(ConsoleTest, SystemMenuGetsTheAboutEntry)
{
    ASSERT_TRUE(Start());
    const auto& items = console->SysMenuItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].id, 0u);  // separator
    EXPECT_EQ(items[2].id, 16u);
    EXPECT_EQ(items[2].text, "&About Corvantis...");
    EXPECT_EQ(console->GetIcon(true).cacheKey(), console->Icon.cacheKey());
    EXPECT_EQ(console->GetIcon(false).cacheKey(), console->Icon.cacheKey());
    EXPECT_EQ(console->OnQueryDragIcon().cacheKey(), console->Icon.cacheKey());
    EXPECT_FALSE(console->Icon.isNull());
}

TEST_F(ConsoleTest, EmptyAboutTextAddsNoEntryButStillSetsTheIcons)
{
    console = std::make_unique<CConsoleProbe>();
    console->InitSystemMenu("");
    EXPECT_TRUE(console->SysMenuItems().empty());
    EXPECT_EQ(console->GetIcon(true).cacheKey(), console->Icon.cacheKey());
    EXPECT_EQ(console->GetIcon(false).cacheKey(), console->Icon.cacheKey());
}

TEST_F(ConsoleTest, SystemCommandsSixteenToThirtyOneOpenTheAboutBox)
{
    ASSERT_TRUE(Start());
    console->SetAboutBox(OpenAboutBox);  // as the application does
    int opened = 0;
    for (uint32_t id : {16u, 17u, 24u, 31u}) {
        SCOPED_TRACE(id);
        WhenModal([&](QWidget* modal) {
            auto* about = dynamic_cast<CAboutDlg*>(modal);
            ASSERT_NE(about, nullptr);
            EXPECT_EQ(about->windowTitle(), QStringLiteral("About Corvantis"));
            EXPECT_EQ(about->parentWidget(), console.get());
            ++opened;
            about->GetDlgItemAs<QPushButton>(IDOK)->click();
        });
        console->SendMessage(WM_SYSCOMMAND, id, 0);
    }
    EXPECT_EQ(opened, 4);
    // Other ids go to the default handling; none of these opens a box.
    for (uint32_t id : {0u, 15u, 48u, 64u})
        console->SendMessage(WM_SYSCOMMAND, id, 0);
    EXPECT_EQ(opened, 4);
    EXPECT_FALSE(console->IsEnded());
}

TEST_F(ConsoleTest, MinimisedConsolePaintsItsIconCentred)
{
    ASSERT_TRUE(Start());
    console->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(console->isMinimized());
    // The window's own painting; a minimised window shows no controls.
    QImage shot(console->size(), QImage::Format_ARGB32_Premultiplied);
    shot.fill(Qt::black);
    console->render(&shot, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    const QPoint origin = MinimisedIconOrigin(console->width(), console->height(), 32, 32);

    QImage expected(console->size(), shot.format());
    expected.fill(console->palette().window().color());
    {
        QPainter painter(&expected);
        painter.drawPixmap(origin, console->Icon.pixmap(32, 32));
    }
    EXPECT_EQ(shot, expected);
    console->setWindowState(Qt::WindowNoState);
}

// The pictures are compiled-in resources, so they cannot go missing on their
// own: the test unregisters them to force the case.
TEST_F(ConsoleTest, MissingPicturesAreReportedAndTheStationStillRuns)
{
    Q_CLEANUP_RESOURCE(corvantis);
    const bool started = Start();
    Q_INIT_RESOURCE(corvantis);
    ASSERT_TRUE(started);
    EXPECT_THAT(boxes.Texts(), ::testing::ElementsAre("Could not load bitmaps"));
    EXPECT_EQ(Picture(), "none");
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(Text(IDC_OPERATION), "Batch executed successfully");
}
