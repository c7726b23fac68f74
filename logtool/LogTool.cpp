#include "LogTool.h"

#include "LineDatabase.h"
#include "PoolCommand.h"
#include "ProductionRecord.h"
#include "SettingsText.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QFile>
#include <QJsonObject>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTimeZone>

#include <functional>
#include <memory>

namespace {

constexpr const char* Usage =
    "usage: corvantis-log [WHERE] export --format csv|json\n"
    "                     [--since TIME] [--until TIME] [--serial N] [--result R] [--device NAME]\n"
    "       corvantis-log [WHERE] summary [--since TIME] [--until TIME] [--device NAME]\n"
    "       corvantis-log [WHERE] find SERIAL\n"
    "       corvantis-log --line|--database CONNINFO pool create NAME --first N [--last M]\n"
    "       corvantis-log --line|--database CONNINFO pool show [NAME]\n"
    "       corvantis-log --line|--database CONNINFO pool raise NAME N\n"
    "WHERE: --database FILE (this station's record; the default), --line (the line\n"
    "database in this station's settings, [Line] Database) or --database CONNINFO (a\n"
    "line database: a postgresql:// URI or key=value words such as \"host=line-db\n"
    "dbname=corvantis\"; write a file whose name has '=' as ./NAME).\n"
    "TIME is ISO 8601 in UTC (2026-12-07 or 2026-12-07T13:05:00Z); R is passed, failed,\n"
    "interrupted, refused (stopped by the setup check, no unit touched) or running.\n";

int BadArguments(std::ostream& err, const QString& what)
{
    err << "corvantis-log: " << what.toStdString() << "\n" << Usage;
    return 1;
}

bool ParseSerial(const QString& text, qint64& serial)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    if (!ok || value > 0xFFFFFFFFull)
        return false;
    serial = static_cast<qint64>(value);
    return true;
}

QString Opt(const std::optional<qint64>& v) { return v ? QString::number(*v) : QString(); }
QString Opt(const std::optional<qint32>& v) { return v ? QString::number(*v) : QString(); }
QString Opt(const std::optional<bool>& v) { return v ? QString(*v ? "1" : "0") : QString(); }

// Column name and its text, in the record's column order.
QList<QPair<QString, QString>> Fields(const CAttempt& a)
{
    const bool numbered = a.SerialValue.has_value();
    return {
        {"id", a.Id}, {"kind", a.Kind}, {"started_at", a.StartedAt}, {"ended_at", a.EndedAt},
        {"station", a.Station}, {"settings", a.Settings}, {"operator", a.Operator}, {"port", a.Port},
        {"baud", QString::number(a.Baud)}, {"device", a.Device}, {"device_number", QString::number(a.DeviceNumber)},
        {"vcc", QString::number(a.Vcc, 'g', 12)}, {"firmware", a.Firmware}, {"firmware_size", Opt(a.FirmwareSize)},
        {"firmware_sha256", a.FirmwareSha256}, {"erase_info", a.EraseInfo ? "1" : "0"},
        {"blow_fuse", a.BlowFuse ? "1" : "0"}, {"serial_value", Opt(a.SerialValue)},
        {"serial_width", numbered ? QString::number(a.SerialWidth) : QString()},
        {"serial_address", numbered ? QString::number(a.SerialAddress) : QString()},
        {"serial_written", Opt(a.SerialWritten)}, {"result", a.Result}, {"step", a.Step},
        {"error_text", a.ErrorText}, {"error_code", Opt(a.ErrorCode)}, {"fuse_blown", Opt(a.FuseBlown)},
    };
}

// Columns that are numbers in JSON (an empty text is null there).
bool IsNumber(const QString& column)
{
    static const QStringList numbers = {"baud", "device_number", "vcc", "firmware_size", "erase_info",
                                        "blow_fuse", "serial_value", "serial_width", "serial_address",
                                        "serial_written", "error_code", "fuse_blown"};
    return numbers.contains(column);
}

void WriteCsv(const QList<CAttempt>& rows, std::ostream& out)
{
    QStringList header;
    for (const auto& field : Fields(CAttempt{}))
        header << field.first;
    out << header.join(',').toStdString() << "\r\n";
    for (const CAttempt& a : rows) {
        QStringList cells;
        for (const auto& field : Fields(a))
            cells << CsvField(field.second);
        out << cells.join(',').toStdString() << "\r\n";
    }
}

void WriteJson(const QList<CAttempt>& rows, std::ostream& out)
{
    QJsonArray array;
    for (const CAttempt& a : rows) {
        QJsonObject object;
        for (const auto& [column, text] : Fields(a)) {
            if (text.isEmpty() && column != "station" && column != "operator" && column != "firmware")
                object.insert(column, QJsonValue::Null);
            else if (IsNumber(column))
                object.insert(column, column == "vcc" ? QJsonValue(a.Vcc) : QJsonValue(text.toLongLong()));
            else
                object.insert(column, text);
        }
        array.append(object);
    }
    out << QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString();
}

QString Yield(qint64 passed, qint64 failed)
{
    const qint64 finished = passed + failed;
    return finished == 0 ? QString("-")
                         : QString::number(100.0 * static_cast<double>(passed) / static_cast<double>(finished), 'f', 1) +
                               "%";
}

}  // namespace

QString CsvField(const QString& text)
{
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    return '"' + QString(text).replace("\"", "\"\"") + '"';
}

QString NormaliseTime(const QString& text)
{
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid() && text.size() == 10)
        return CProductionRecord::ToUtcText(QDateTime(date, QTime(0, 0), QTimeZone::utc()));
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        return {};
    // No zone given: the record's own, UTC.
    if (time.timeSpec() == Qt::LocalTime)
        time = QDateTime(time.date(), time.time(), QTimeZone::utc());
    return CProductionRecord::ToUtcText(time);
}

bool IsConninfo(const QString& database)
{
    static const QRegularExpression keyValue(QStringLiteral("^\\s*[A-Za-z_]+\\s*="));
    return database.startsWith(QLatin1String("postgresql://")) || database.startsWith(QLatin1String("postgres://")) ||
           keyValue.match(database).hasMatch();
}

namespace {

// What the command line asked for; Exit >= 0: the run ends with that status.
struct CLogOptions {
    QString Database = CProductionRecord::DefaultPath();
    bool Line = false;
    bool DatabaseGiven = false;
    QString Format;
    CAttemptFilter Filter;
    QStringList Positional;
    bool Pool = false;
    QStringList PoolArgs;
    int Exit = -1;
};

// One "--name value" option into options; false (and Exit set) when bad.
bool TakeOption(const QString& a, const QString& value, CLogOptions& o, std::ostream& err)
{
    if (a == "--database") {
        o.Database = value;
        o.DatabaseGiven = true;
    } else if (a == "--format") {
        o.Format = value;
    } else if (a == "--since" || a == "--until") {
        const QString time = NormaliseTime(value);
        if (time.isEmpty())
            o.Exit = BadArguments(err, a + " \"" + value + "\" is no ISO 8601 time");
        else
            (a == "--since" ? o.Filter.Since : o.Filter.Until) = time;
    } else if (a == "--serial") {
        qint64 serial = 0;
        if (!ParseSerial(value, serial))
            o.Exit = BadArguments(err, "--serial \"" + value + "\" is no serial number (0 to 4294967295)");
        else
            o.Filter.Serial = serial;
    } else if (a == "--result") {
        if (!QStringList{"passed", "failed", "interrupted", "refused", "running"}.contains(value))
            o.Exit = BadArguments(err, "--result \"" + value +
                                           "\" is none of passed, failed, interrupted, refused, running");
        else
            o.Filter.Result = value;
    } else if (a == "--device") {
        o.Filter.Device = value;
    } else {
        o.Exit = BadArguments(err, "unknown option " + a);
    }
    return o.Exit < 0;
}

CLogOptions ParseOptions(const QStringList& args, std::ostream& out, std::ostream& err)
{
    CLogOptions o;
    for (int i = 0; i < args.size() && o.Exit < 0; ++i) {
        const QString& a = args[i];
        if (a == "-h" || a == "--help") {
            out << Usage;
            o.Exit = 0;
        } else if (a == "pool" && o.Positional.isEmpty()) {
            o.Pool = true;
            o.PoolArgs = args.mid(i + 1);
            break;
        } else if (!a.startsWith("--")) {
            o.Positional << a;
        } else if (a == "--line") {
            o.Line = true;
        } else if (i + 1 >= args.size()) {
            o.Exit = BadArguments(err, a + " needs a value");
        } else {
            TakeOption(a, args[++i], o, err);
        }
    }
    if (o.Exit < 0 && o.Line && o.DatabaseGiven)
        o.Exit = BadArguments(err, "--line and --database exclude each other");
    return o;
}

// The line database named in the station's own settings file, read as the
// station reads it; empty (and told) when the station is in no line.
QString StationLineDatabase(std::ostream& err)
{
    const QString location =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Quillfern/Corvantis.conf";
    QFile file(location);
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const CSettingsValues values = ParseSettingsText(std::string_view(text.constData(), text.size()));
    const auto it = values.find("Line/Database");
    const QString database = it == values.end() ? QString() : QString::fromStdString(it->second).trimmed();
    if (database.isEmpty())
        err << "corvantis-log: this station is in no line: " << location.toStdString() << " has no [Line] Database\n";
    return database;
}

// Checks the command and its arguments; -1 when they are sound, else the exit status.
int CheckCommand(const QString& command, CLogOptions& o, std::ostream& err)
{
    const CAttemptFilter& f = o.Filter;
    if (command == "export") {
        if (!o.Positional.isEmpty())
            return BadArguments(err, "export takes no argument \"" + o.Positional.first() + "\"");
        if (o.Format != "csv" && o.Format != "json")
            return BadArguments(err, o.Format.isEmpty() ? QString("export needs --format csv or --format json")
                                                        : "--format \"" + o.Format + "\" is neither csv nor json");
    } else if (command == "summary") {
        if (!o.Positional.isEmpty() || !o.Format.isEmpty() || f.Serial || !f.Result.isEmpty())
            return BadArguments(err, "summary takes only --since, --until and --device");
    } else if (command == "find") {
        qint64 serial = 0;
        if (o.Positional.size() != 1 || !ParseSerial(o.Positional.first(), serial))
            return BadArguments(err, "find needs one serial number (0 to 4294967295)");
        if (!o.Format.isEmpty() || !f.Since.isEmpty() || !f.Until.isEmpty() || f.Serial || !f.Result.isEmpty() ||
            !f.Device.isEmpty())
            return BadArguments(err, "find takes no filter");
        o.Filter.Serial = serial;
    } else {
        return BadArguments(err, "unknown command \"" + command + "\"");
    }
    return -1;
}

int PrintSummary(CProductionRecord& record, const CAttemptFilter& filter, std::ostream& out, std::ostream& err)
{
    const char* titles[] = {"day (UTC)", "device", "firmware SHA-256"};
    const ESummaryBy by[] = {ESummaryBy::Day, ESummaryBy::Device, ESummaryBy::Firmware};
    for (int i = 0; i < 3; ++i) {
        const auto rows = record.Summary(by[i], filter);
        if (!rows) {
            err << "corvantis-log: " << record.ErrorText().toStdString() << "\n";
            return 2;
        }
        if (i > 0)
            out << "\n";
        // A refused batch touched no unit: counted last and apart, outside
        // the units and the yield.
        out << QString("%1\tunits\tpassed\tfailed\tinterrupted\tyield\trefused\n").arg(titles[i]).toStdString();
        for (const CSummaryRow& r : *rows)
            out << QString("%1\t%2\t%3\t%4\t%5\t%6\t%7\n")
                       .arg(r.Key.isEmpty() ? QString("(none)") : r.Key)
                       .arg(r.Attempts - r.Refused).arg(r.Passed).arg(r.Failed).arg(r.Interrupted)
                       .arg(Yield(r.Passed, r.Failed))
                       .arg(r.Refused)
                       .toStdString();
    }
    return 0;
}

}  // namespace

int RunLogTool(const QStringList& args, std::ostream& out, std::ostream& err)
{
    CLogOptions o = ParseOptions(args, out, err);
    if (o.Exit >= 0)
        return o.Exit;
    if (o.Line) {
        o.Database = StationLineDatabase(err);
        if (o.Database.isEmpty())
            return 2;
    }
    const bool inLine = o.Line || IsConninfo(o.Database);
    if (o.Pool) {
        if (!inLine)
            return BadArguments(err, "pool needs --line or --database CONNINFO");
        return RunPoolCommand(o.Database, o.PoolArgs, out, err);
    }
    if (o.Positional.isEmpty())
        return BadArguments(err, "no command");
    const QString command = o.Positional.takeFirst();
    if (const int status = CheckCommand(command, o, err); status >= 0)
        return status;

    CProductionRecord record;
    std::unique_ptr<CLineDatabase> lineDb;
    if (inLine) {
        lineDb = std::make_unique<CLineDatabase>(o.Database);
        if (!lineDb->Open()) {
            err << "corvantis-log: " << lineDb->ErrorText().toStdString() << "\n";
            return 2;
        }
        record.Attach(lineDb->Database().connectionName(), "the line database on " + lineDb->ServerName());
    } else if (!record.Open(o.Database, 2000, true)) {
        err << "corvantis-log: " << record.ErrorText().toStdString() << "\n";
        return 2;
    }
    if (command == "summary")
        return PrintSummary(record, o.Filter, out, err);
    auto rows = record.Select(o.Filter);
    if (!rows) {
        err << "corvantis-log: " << record.ErrorText().toStdString() << "\n";
        return 2;
    }
    // Oldest first: an export reads as the day went.
    std::reverse(rows->begin(), rows->end());
    if (command == "find" || o.Format == "csv")
        WriteCsv(*rows, out);
    else
        WriteJson(*rows, out);
    return 0;
}
