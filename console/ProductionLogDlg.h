#pragma once
// CProductionLogDlg: "Production Log", opened from the console's system menu.
// Today's batches (passed, failed, yield, by the station's local day), the
// latest attempts newest first (a failure shows its step and error text;
// "On the unit" tells which attempt wrote its number to a unit, and a fuse
// check's answer), and a search by serial number (Enter searches).
#include <QDialog>
#include <QString>

class CProductionRecord;
class QLabel;
class QLineEdit;
class QTableWidget;

class CProductionLogDlg : public QDialog {
public:
    // Rows the table shows at most, newest first.
    static constexpr int LatestRows = 500;

    CProductionLogDlg(CProductionRecord& record, QWidget* parent = nullptr);

    // Fills the table: every attempt with that serial number, or the latest
    // rows for an empty text. false (table unchanged, message in Note) for a
    // text that is no serial number or a record that cannot be read.
    bool Search(const QString& serialText);
    void Refresh();   // today's figures and the latest rows

    QLabel* Today = nullptr;
    QLabel* Note = nullptr;
    QLineEdit* SerialEdit = nullptr;
    QTableWidget* Table = nullptr;

private:
    CProductionRecord& m_record;
};

// "12 passed, 3 failed, yield 80.0 %" ("yield -" without a finished batch).
// refused: batches the setup check stopped, told apart when there are any.
QString TodayText(long long passed, long long failed, long long refused = 0);
