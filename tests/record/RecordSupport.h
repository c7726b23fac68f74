#pragma once
// Rows for the record's tests and benchmarks: plausible attempts, with the
// texts a CSV or JSON writer must carry through (commas, quotes, newlines).
#include "ProductionRecord.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimeZone>

// Attempt i: started i seconds after 2026-03-02T08:00:00Z; every fifth fails
// at "Verify", every seventh is unnumbered, devices alternate.
inline CAttempt SampleAttempt(int i)
{
    CAttempt a;
    a.Id = QString("00000000-0000-4000-8000-%1").arg(i, 12, 10, QChar('0'));
    a.StartedAt = CProductionRecord::ToUtcText(
        QDateTime(QDate(2026, 3, 2), QTime(8, 0), QTimeZone::utc()).addSecs(i));
    a.EndedAt = CProductionRecord::ToUtcText(
        QDateTime(QDate(2026, 3, 2), QTime(8, 0), QTimeZone::utc()).addSecs(i).addMSecs(250));
    a.Station = "line-3, bay \"B\"";
    a.Settings = "/home/op/.config/Quillfern/Corvantis.conf";
    a.Operator = "op";
    a.Port = "COM1";
    a.Baud = 115200;
    a.Device = i % 2 ? "MSP430F149" : "MSP430F112";
    a.DeviceNumber = i % 2 ? 40 : 31;
    a.Vcc = 3.3;
    a.Firmware = "/srv/fw/node, rev \"7\".txt";
    a.FirmwareSize = 61440;
    a.FirmwareSha256 = QString(64, i % 3 ? 'a' : 'b');
    a.EraseInfo = true;
    a.BlowFuse = i % 2 == 0;
    if (i % 7 != 0) {
        a.SerialValue = 1000 + i;
        a.SerialWidth = 2;
        a.SerialAddress = 0x1000;
        a.SerialWritten = i % 5 != 0;
    }
    if (i % 5 == 0) {
        a.Result = "failed";
        a.Step = "Verify";
        a.ErrorText = QString("Unable to verify (FFFFFFE7)\nunit %1, \"bad\" cell").arg(i);
        a.ErrorCode = -25;
    } else {
        a.Result = "passed";
    }
    return a;
}

// Runs one statement on the file through a connection of its own.
inline bool RawExec(const QString& path, const QString& sql)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "raw");
        db.setDatabaseName(path);
        ok = db.open() && QSqlQuery(db).exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase("raw");
    return ok;
}

inline QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
