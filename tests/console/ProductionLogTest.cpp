// The production record seen from the console: the system-menu entry, the
// log dialog, Check Fuse rows, and the setting that turns recording off.
#include "ConsoleFixture.h"

#include "ProductionLogDlg.h"
#include "RecordSupport.h"

#include <QDir>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString Cell(const QTableWidget* table, int row, int column)
{
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString("(none)");
}

}  // namespace

TEST(TodayText, CountsAndYield)
{
    EXPECT_EQ(TodayText(0, 0), "0 passed, 0 failed, yield -");
    EXPECT_EQ(TodayText(3, 1), "3 passed, 1 failed, yield 75.0 %");
    EXPECT_EQ(TodayText(2, 1), "2 passed, 1 failed, yield 66.7 %");
    EXPECT_EQ(TodayText(0, 4), "0 passed, 4 failed, yield 0.0 %");
    EXPECT_EQ(TodayText(3, 1, 2), "3 passed, 1 failed, yield 75.0 % (2 refused before a unit was touched)");
}

TEST(ProductionLog, TodayLatestFirstAndSearchBySerial)
{
    QTemporaryDir dir;
    CProductionRecord record;
    ASSERT_TRUE(record.Open(dir.filePath("production.db")));
    // Yesterday's rows do not count for today; today: 3 passed, 1 failed.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime midnight(now.date(), QTime(0, 0));
    QList<CAttempt> rows;
    for (int i = 1; i <= 6; ++i) {
        CAttempt a = SampleAttempt(i);   // attempt 5 failed at "Verify"
        const QDateTime when = i <= 2 ? midnight.addSecs(-3600 * i) : midnight.addSecs(60 * i);
        a.StartedAt = CProductionRecord::ToUtcText(when);
        rows.append(a);
    }
    ASSERT_TRUE(record.InsertAll(rows));

    CProductionLogDlg dialog(record);
    EXPECT_EQ(dialog.Today->text(), "3 passed, 1 failed, yield 75.0 %");
    ASSERT_EQ(dialog.Table->rowCount(), 6);
    EXPECT_EQ(Cell(dialog.Table, 0, 3), "1006");  // newest first
    EXPECT_EQ(Cell(dialog.Table, 5, 3), "1002");
    EXPECT_EQ(Cell(dialog.Table, 1, 2), "failed");
    EXPECT_EQ(Cell(dialog.Table, 1, 7), "Verify");
    EXPECT_EQ(Cell(dialog.Table, 1, 8), "Unable to verify (FFFFFFE7) unit 5, \"bad\" cell");
    EXPECT_EQ(Cell(dialog.Table, 0, 6), "node, rev \"7\".txt");
    // Which attempt wrote its number to a unit.
    EXPECT_EQ(Cell(dialog.Table, 0, 4), "number written");
    EXPECT_EQ(Cell(dialog.Table, 1, 4), "number not written");

    dialog.show();
    QDir().mkpath(CORV_SCREENSHOT_DIR);
    EXPECT_TRUE(dialog.grab().save(CORV_SCREENSHOT_DIR "/production-log.png"));

    // Enter in the serial field searches; the dialog stays open.
    dialog.SerialEdit->setText(" 1003 ");
    QTest::keyClick(dialog.SerialEdit, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(dialog.Table->rowCount(), 1);
    EXPECT_EQ(Cell(dialog.Table, 0, 3), "1003");
    EXPECT_EQ(dialog.Note->text(), "1 attempts with serial number 1003.");
    for (const char* bad : {"x12", "-1", "4294967296", "12.5"}) {
        EXPECT_FALSE(dialog.Search(bad)) << bad;
        EXPECT_EQ(dialog.Table->rowCount(), 1) << "the table stays as it was";
    }
    EXPECT_EQ(dialog.Note->text(), "\"12.5\" is no serial number (0 to 4294967295).");
    EXPECT_TRUE(dialog.Search("99"));
    EXPECT_EQ(dialog.Table->rowCount(), 0);
    EXPECT_TRUE(dialog.Search(""));
    EXPECT_EQ(dialog.Table->rowCount(), 6);
}

TEST_F(ConsoleTest, CheckFuseIsRecordedAndTheLogOpensFromTheSystemMenu)
{
    QTemporaryDir dir;
    console = std::make_unique<CConsoleProbe>();
    console->RecordPath = dir.filePath("production.db");
    ASSERT_TRUE(console->Create());
    const auto& items = console->SysMenuItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].id, 32u);
    EXPECT_EQ(items[1].text, "&Production Log...");
    EXPECT_EQ(items[2].id, 16u);

    Click(IDC_CHECK_FUSE);
    ASSERT_EQ(boxes.Texts(), std::vector<std::string>{"Fuse is NOT blown"});
    int opened = 0;
    WhenModal([&](QWidget* modal) {
        auto* log = dynamic_cast<CProductionLogDlg*>(modal);
        ASSERT_NE(log, nullptr);
        EXPECT_EQ(log->windowTitle(), "Production Log");
        EXPECT_EQ(log->Today->text(), "0 passed, 0 failed, yield -") << "a fuse check is no unit";
        EXPECT_EQ(log->Table->rowCount(), 1);
        EXPECT_EQ(Cell(log->Table, 0, 1), "fuse");
        EXPECT_EQ(Cell(log->Table, 0, 4), "fuse not blown");
        ++opened;
        log->reject();
    });
    console->SendMessage(WM_SYSCOMMAND, 32, 0);
    EXPECT_EQ(opened, 1);
    const auto rows = console->Record->Select({});
    ASSERT_TRUE(rows && rows->size() == 1);
    EXPECT_EQ(rows->front().Result, "passed");
    EXPECT_EQ(rows->front().FuseBlown, false);
    EXPECT_EQ(rows->front().Device, "MSP430F112");
    EXPECT_EQ(rows->front().SerialValue, std::nullopt);
    EXPECT_EQ(rows->front().SerialWritten, std::nullopt) << "no serial number, nothing written";
}

TEST_F(ConsoleTest, RecordTurnedOffRunsAsBeforeAndWritesNoFile)
{
    QTemporaryDir dir;
    {
        QSettings settings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis"));
        settings.setValue("Record/Enabled", 0);
    }
    console = std::make_unique<CConsoleProbe>();
    console->RecordPath = dir.filePath("production.db");
    ASSERT_TRUE(console->Create());
    SelectType(2);
    SetText(IDC_SERIAL_NUMBER, "41");
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(Picture(), "pass");
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_EQ(console->SerialNumber, 42u);
    EXPECT_FALSE(QFile::exists(console->RecordPath));
    console->SendMessage(WM_SYSCOMMAND, 32, 0);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].text.rfind("The production record is turned off", 0), 0u) << boxes.Boxes[0].text;
}

// In a line, a result the server missed waits in the local record: a line
// station with the record turned off does not start.
TEST_F(ConsoleTest, ALineStationRefusesTheRecordTurnedOff)
{
    QTemporaryDir dir;
    QString location;
    {
        QSettings settings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis"));
        settings.setValue("Record/Enabled", 0);
        settings.setValue("Line/Database", "host=" + dir.filePath("no-server"));
        settings.setValue("Line/Pool", "A");
        location = settings.fileName();
    }
    EXPECT_FALSE(Start());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                 "[Record] Enabled=0 cannot be used in a production line:\n" + location.toStdString() +
                                 "\nA result the line's server misses waits in this station's record until it is"
                                 " delivered. Turn the record on, or take the station out of the line."});
}

// "Gang..." is in the system menu once the application hands the console
// its gang window; the console's fields are in the store before it opens,
// and the next serial number and count the gang left are shown after.
TEST_F(ConsoleTest, TheGangOpensFromTheSystemMenuAndItsNumbersComeBack)
{
    QTemporaryDir dir;
    console = std::make_unique<CConsoleProbe>();
    console->RecordPath = dir.filePath("production.db");
    int opened = 0;
    console->SetGangWindow([&](QWidget* owner) {
        EXPECT_EQ(owner, console.get());
        EXPECT_EQ(StoredValues()["SerialNumber"], "7");
        StoreValues({{"SerialNumber", "12"}, {"Count", "5"}});
        ++opened;
    });
    ASSERT_TRUE(console->Create());
    const auto& items = console->SysMenuItems();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[2].id, 48u);
    EXPECT_EQ(items[2].text, "&Gang...");
    console->SetDlgItemText(IDC_SERIAL_NUMBER, "7");
    console->SendMessage(WM_SYSCOMMAND, 48, 0);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(console->GetDlgItemText(IDC_SERIAL_NUMBER), "12");
    EXPECT_EQ(console->GetDlgItemText(IDC_COUNT), "5");
    EXPECT_TRUE(boxes.Texts().empty());
}
