#include "ProductionLogDlg.h"

#include "ProductionRecord.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QStringList Headings = {"Started", "Kind", "Result", "Serial", "On the unit", "Device", "Firmware", "Step",
                               "Error"};

QString LocalTime(const QString& utc)
{
    const QDateTime t = QDateTime::fromString(utc, Qt::ISODateWithMs);
    return t.isValid() ? t.toLocalTime().toString("yyyy-MM-dd HH:mm:ss") : utc;
}

}  // namespace

QString TodayText(long long passed, long long failed, long long refused)
{
    const long long finished = passed + failed;
    const QString yield = finished == 0 ? QString("-")
                                        : QString::number(100.0 * static_cast<double>(passed) /
                                                              static_cast<double>(finished), 'f', 1) + " %";
    const QString text = QString("%1 passed, %2 failed, yield %3").arg(passed).arg(failed).arg(yield);
    return refused > 0 ? text + QString(" (%1 refused before a unit was touched)").arg(refused) : text;
}

CProductionLogDlg::CProductionLogDlg(CProductionRecord& record, QWidget* parent)
    : QDialog(parent), m_record(record)
{
    setWindowTitle("Production Log");
    auto* layout = new QVBoxLayout(this);
    auto* todayRow = new QHBoxLayout;
    todayRow->addWidget(new QLabel("Today:", this));
    Today = new QLabel(this);
    todayRow->addWidget(Today, 1);
    layout->addLayout(todayRow);

    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(new QLabel("Serial number:", this));
    SerialEdit = new QLineEdit(this);
    searchRow->addWidget(SerialEdit, 1);
    // Enter searches: the dialog's default button is Find, not Close.
    auto* find = new QPushButton("&Find", this);
    find->setDefault(true);
    searchRow->addWidget(find);
    layout->addLayout(searchRow);

    Table = new QTableWidget(0, static_cast<int>(Headings.size()), this);
    Table->setHorizontalHeaderLabels(Headings);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->verticalHeader()->setVisible(false);
    Table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    Table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(Table, 1);
    Note = new QLabel(this);
    layout->addWidget(Note);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(find, &QPushButton::clicked, this, [this] { Search(SerialEdit->text()); });
    resize(900, 420);
    Refresh();
}

void CProductionLogDlg::Refresh()
{
    const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
    const auto tally = m_record.Tally(CProductionRecord::ToUtcText(midnight),
                                      CProductionRecord::ToUtcText(midnight.addDays(1)));
    Today->setText(tally ? TodayText(tally->Passed, tally->Failed, tally->Refused) : m_record.ErrorText());
    Search({});
}

bool CProductionLogDlg::Search(const QString& serialText)
{
    CAttemptFilter filter;
    const QString text = serialText.trimmed();
    if (!text.isEmpty()) {
        bool ok = false;
        const qulonglong serial = text.toULongLong(&ok, 10);
        if (!ok || serial > 0xFFFFFFFFull) {
            Note->setText("\"" + text + "\" is no serial number (0 to 4294967295).");
            return false;
        }
        filter.Serial = static_cast<qint64>(serial);
    }
    const auto rows = m_record.Select(filter, text.isEmpty() ? LatestRows : -1);
    if (!rows) {
        Note->setText(m_record.ErrorText());
        return false;
    }
    Table->setRowCount(0);
    Table->setRowCount(static_cast<int>(rows->size()));
    int r = 0;
    for (const CAttempt& a : *rows) {
        const QStringList cells = {
            LocalTime(a.StartedAt), a.Kind, a.Result,
            a.SerialValue ? QString::number(*a.SerialValue) : QString(), CProductionRecord::OnUnit(a), a.Device,
            QFileInfo(a.Firmware).fileName(), a.Step, QString(a.ErrorText).replace('\n', ' ')};
        for (int c = 0; c < cells.size(); ++c)
            Table->setItem(r, c, new QTableWidgetItem(cells[c]));
        ++r;
    }
    Table->resizeColumnsToContents();
    if (text.isEmpty())
        Note->setText(rows->size() == LatestRows ? QString("The latest %1 attempts.").arg(LatestRows)
                                                  : QString("%1 attempts.").arg(rows->size()));
    else
        Note->setText(QString("%1 attempts with serial number %2.").arg(rows->size()).arg(text));
    return true;
}
