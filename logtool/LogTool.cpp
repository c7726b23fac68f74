#include "LogTool.h"

#include "LineDatabase.h"
#include "PoolCommand.h"
#include "Recipe.h"
#include "RecipeCommand.h"
#include "ProductionRecord.h"
#include "SettingsText.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTimeZone>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* Usage =
    "usage: corvantis-log [WHERE] export --format csv|json\n"
    "                     [--since TIME] [--until TIME] [--serial N] [--result R] [--device NAME]\n"
    "                     [--recipe NAME[:VERSION]]\n"
    "       corvantis-log [WHERE] summary [--since TIME] [--until TIME] [--device NAME] [--recipe R]\n"
    "       corvantis-log [WHERE] find SERIAL\n"
    "       corvantis-log --line|--database CONNINFO pool create NAME --first N [--last M]\n"
    "       corvantis-log --line|--database CONNINFO pool show [NAME]\n"
    "       corvantis-log --line|--database CONNINFO pool raise NAME N\n"
    "       corvantis-log --database ADMIN_CONNINFO line setup --station-role ROLE\n"
    "       corvantis-log --database ADMIN_CONNINFO|--line|--folder DIR recipe create|show|list|retire|export ...\n"
    "                     (corvantis-log recipe --help for its words)\n"
    "WHERE: --database FILE (this station's record; the default), --line (the line\n"
    "database in this station's settings, [Line] Database) or --database CONNINFO (a\n"
    "line database: a postgresql:// URI or key=value words such as \"host=line-db\n"
    "dbname=corvantis\"; write a file whose name has '=' as ./NAME).\n"
    "TIME is ISO 8601 (2026-12-07, 2026-12-07T13:05:00Z or 2026-12-07T08:05:00-05:00;\n"
    "without a zone it is UTC); R is passed, failed, interrupted,\n"
    "refused (stopped by the setup check, no unit touched) or running.\n";

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

// One CSV field onto out; guard: a text cell, kept from a spreadsheet's
// formula reading by a leading apostrophe.
void AppendCsv(std::string& out, std::string_view text, bool guard)
{
    const bool formula = guard && !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        if (formula)
            out += '\'';
        out += text;
        return;
    }
    out += '"';
    if (formula)
        out += '\'';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void AppendJsonString(std::string& out, std::string_view text)
{
    static const char* const Hex = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20) {
            out += "\\u00";
            out += Hex[u >> 4];
            out += Hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

// Rows go out as they come, through one buffer that is written whenever it
// holds a good block: memory stays the same for ten rows or ten million.
class CRowWriter {
public:
    explicit CRowWriter(std::ostream& out) : m_out(out) { m_bytes.reserve(BlockBytes * 2); }
    ~CRowWriter() { Flush(); }

    std::string& Bytes() { return m_bytes; }
    void EndRow()
    {
        if (m_bytes.size() >= BlockBytes)
            Flush();
    }
    void Flush()
    {
        m_out.write(m_bytes.data(), static_cast<std::streamsize>(m_bytes.size()));
        m_bytes.clear();
    }

private:
    static constexpr size_t BlockBytes = 256 * 1024;
    std::ostream& m_out;
    std::string m_bytes;
};

// What the attempt left on the unit, from its cells (find's first column).
QString OnUnit(const CCell* cells)
{
    static const QStringList& names = CProductionRecord::ColumnNames();
    static const qsizetype kind = names.indexOf("kind"), serial = names.indexOf("serial_value"),
                           written = names.indexOf("serial_written"), fuse = names.indexOf("fuse_blown");
    auto flag = [&](qsizetype i) {
        return cells[i].Kind == CCell::Null ? std::nullopt : std::optional<bool>(cells[i].Value != "0");
    };
    CAttempt a;
    a.Kind = QString::fromUtf8(cells[kind].Value.data(), static_cast<qsizetype>(cells[kind].Value.size()));
    if (cells[serial].Kind != CCell::Null)
        a.SerialValue = 0;
    a.SerialWritten = flag(written);
    a.FuseBlown = flag(fuse);
    return CProductionRecord::OnUnit(a);
}

// CSV of every matching row, oldest first. onUnit: a first column that says
// what the attempt left on the unit (find: which attempt wrote the number).
bool WriteCsv(CProductionRecord& record, const CAttemptFilter& filter, bool onUnit, std::ostream& out)
{
    CRowWriter writer(out);
    std::string& bytes = writer.Bytes();
    bytes = (onUnit ? "on_unit," : "") + CProductionRecord::ColumnNames().join(',').toStdString() + "\r\n";
    const qsizetype count = CProductionRecord::ColumnNames().size();
    return record.EachRow(filter, [&](const CCell* cells) {
        if (onUnit) {
            AppendCsv(bytes, OnUnit(cells).toStdString(), false);
            bytes += ',';
        }
        for (qsizetype c = 0; c < count; ++c) {
            if (c)
                bytes += ',';
            AppendCsv(bytes, cells[c].Value, cells[c].Kind == CCell::Text);
        }
        bytes += "\r\n";
        writer.EndRow();
        return true;
    });
}

// A JSON array, one object a line, keys in column order; a number that JSON
// cannot hold (inf, nan) is null.
bool WriteJson(CProductionRecord& record, const CAttemptFilter& filter, std::ostream& out)
{
    CRowWriter writer(out);
    std::string& bytes = writer.Bytes();
    std::vector<std::string> keys;
    for (const QString& name : CProductionRecord::ColumnNames())
        keys.push_back('"' + name.toStdString() + "\":");
    bytes += '[';
    bool first = true;
    const bool ok = record.EachRow(filter, [&](const CCell* cells) {
        bytes += first ? "\n{" : ",\n{";
        first = false;
        for (size_t c = 0; c < keys.size(); ++c) {
            if (c)
                bytes += ',';
            bytes += keys[c];
            const CCell& cell = cells[c];
            const bool finite = cell.Kind == CCell::Number &&
                                cell.Value.find_first_of("IiNn") == std::string_view::npos;
            if (cell.Kind == CCell::Text)
                AppendJsonString(bytes, cell.Value);
            else if (finite)
                bytes += cell.Value;
            else
                bytes += "null";
        }
        bytes += '}';
        writer.EndRow();
        return true;
    });
    // A read that failed half-way leaves the array open: no reader takes it for whole.
    if (ok)
        bytes += "\n]\n";
    return ok;
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
    std::string field;
    AppendCsv(field, text.toStdString(), false);
    return QString::fromStdString(field);
}

QString CsvText(const QString& text)
{
    std::string field;
    AppendCsv(field, text.toStdString(), true);
    return QString::fromStdString(field);
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
    // An offset can carry a time past the years a record's text holds: it
    // is then after, or before, every row (the texts sort as times do).
    const int year = time.toUTC().date().year();
    if (year > 9999)
        return QStringLiteral("9999-12-31T24:00:00.000Z");
    if (year < 1)
        return QStringLiteral("0000-01-01T00:00:00.000Z");
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
    bool LineCommand = false;  // "line ...": PoolArgs are its words
    bool Recipe = false;       // "recipe ...": PoolArgs are its words
    QString Folder;            // --folder: a recipe folder
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
    } else if (a == "--folder") {
        o.Folder = value;
    } else if (a == "--recipe") {
        // NAME or NAME:VERSION
        const QString name = value.section(':', 0, 0), version = value.section(':', 1);
        bool ok = true;
        const int number = version.isEmpty() ? 0 : version.toInt(&ok);
        if (name.isEmpty() || !RecipeNameProblem(name).isEmpty() || !ok || number < 0 ||
            (!version.isEmpty() && number == 0) || value.count(':') > 1)
            o.Exit = BadArguments(err, "--recipe \"" + value + "\" is no recipe NAME or NAME:VERSION");
        else {
            o.Filter.Recipe = name;
            if (number > 0)
                o.Filter.RecipeVersion = number;
        }
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
        } else if ((a == "pool" || a == "line" || a == "recipe") && o.Positional.isEmpty()) {
            (a == "pool" ? o.Pool : a == "line" ? o.LineCommand : o.Recipe) = true;
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
    if (o.Exit < 0 && !o.Folder.isEmpty() && (o.Line || o.DatabaseGiven || !o.Recipe))
        o.Exit = BadArguments(err, "--folder names a recipe folder: only recipe commands take it, without --line "
                                   "or --database");
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
            return BadArguments(err, "summary takes only --since, --until, --device and --recipe");
    } else if (command == "find") {
        qint64 serial = 0;
        if (o.Positional.size() != 1 || !ParseSerial(o.Positional.first(), serial))
            return BadArguments(err, "find needs one serial number (0 to 4294967295)");
        if (!o.Format.isEmpty() || !f.Since.isEmpty() || !f.Until.isEmpty() || f.Serial || !f.Result.isEmpty() ||
            !f.Device.isEmpty() || !f.Recipe.isEmpty())
            return BadArguments(err, "find takes no filter");
        o.Filter.Serial = serial;
    } else {
        return BadArguments(err, "unknown command \"" + command + "\"");
    }
    return -1;
}

int PrintSummary(CProductionRecord& record, const CAttemptFilter& filter, std::ostream& out, std::ostream& err)
{
    const char* titles[] = {"day (UTC)", "device", "firmware SHA-256", "recipe"};
    const ESummaryBy by[] = {ESummaryBy::Day, ESummaryBy::Device, ESummaryBy::Firmware, ESummaryBy::Recipe};
    for (int i = 0; i < 4; ++i) {
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
    if (o.Recipe) {
        if (o.PoolArgs.value(0) == "--help" || o.PoolArgs.value(0) == "-h") {
            out << "usage:\n" << RecipeUsage;
            return 0;
        }
        if (!inLine && o.Folder.isEmpty())
            return BadArguments(err, "recipe needs --database ADMIN_CONNINFO, --line or --folder DIR");
        if (!o.Folder.isEmpty()) {
            CRecipeBook book(o.Folder);
            return RunRecipeCommand(book, o.PoolArgs, out, err);
        }
        CLineDatabase db(o.Database);
        CRecipeBook book(db);
        const int status = RunRecipeCommand(book, o.PoolArgs, out, err);
        // Refused by a line that could not be reached or read: 2.
        return status == 1 && !db.IsOpen() && !db.ErrorText().isEmpty() ? 2 : status;
    }
    if (o.Pool) {
        if (!inLine)
            return BadArguments(err, "pool needs --line or --database CONNINFO");
        return RunPoolCommand(o.Database, o.PoolArgs, out, err);
    }
    if (o.LineCommand) {
        if (!inLine)
            return BadArguments(err, "line needs --database ADMIN_CONNINFO (or --line)");
        return RunLineCommand(o.Database, o.PoolArgs, out, err);
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
    // Oldest first: an export reads as the day went.
    const bool written = o.Format == "json" ? WriteJson(record, o.Filter, out)
                                            : WriteCsv(record, o.Filter, command == "find", out);
    if (!written) {
        err << "corvantis-log: " << record.ErrorText().toStdString() << "\n";
        return 2;
    }
    return 0;
}
