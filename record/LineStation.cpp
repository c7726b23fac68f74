#include "LineStation.h"

#include "Recipe.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QVariant>

namespace {

QJsonValue Optional(const std::optional<qint64>& v) { return v ? QJsonValue(double(*v)) : QJsonValue(); }
QJsonValue Optional(const std::optional<qint32>& v) { return v ? QJsonValue(*v) : QJsonValue(); }
QJsonValue Optional(const std::optional<bool>& v) { return v ? QJsonValue(*v ? 1 : 0) : QJsonValue(); }
QJsonValue TextOrNull(const QString& v) { return v.isEmpty() ? QJsonValue() : QJsonValue(v); }

// The row as the line's functions take it: the attempts table's columns.
QString RowJson(const CAttempt& a)
{
    const bool numbered = a.SerialValue.has_value();
    const QJsonObject row{
        {"id", a.Id}, {"kind", a.Kind}, {"started_at", a.StartedAt}, {"ended_at", TextOrNull(a.EndedAt)},
        {"station", a.Station}, {"settings", a.Settings}, {"operator", a.Operator}, {"port", a.Port},
        {"baud", a.Baud}, {"device", a.Device}, {"device_number", a.DeviceNumber}, {"vcc", a.Vcc},
        {"firmware", a.Firmware}, {"firmware_size", Optional(a.FirmwareSize)},
        {"firmware_sha256", TextOrNull(a.FirmwareSha256)}, {"erase_info", a.EraseInfo ? 1 : 0},
        {"blow_fuse", a.BlowFuse ? 1 : 0}, {"serial_value", Optional(a.SerialValue)},
        {"serial_width", numbered ? QJsonValue(a.SerialWidth) : QJsonValue()},
        {"serial_address", numbered ? QJsonValue(a.SerialAddress) : QJsonValue()},
        {"serial_written", Optional(a.SerialWritten)}, {"result", a.Result}, {"step", TextOrNull(a.Step)},
        {"error_text", TextOrNull(a.ErrorText)}, {"error_code", Optional(a.ErrorCode)},
        {"fuse_blown", Optional(a.FuseBlown)}, {"recipe", TextOrNull(a.Recipe)},
        {"recipe_version", Optional(a.RecipeVersion)}};
    return QString::fromUtf8(QJsonDocument(row).toJson(QJsonDocument::Compact));
}

// How the line's row ended, over the local one's ending.
void TakeEnding(const QJsonObject& line, CAttempt& row)
{
    const auto flag = [&](const char* key) {
        const QJsonValue v = line.value(QLatin1String(key));
        return v.isNull() ? std::optional<bool>() : std::optional<bool>(v.toInt() != 0);
    };
    row.EndedAt = line.value("ended_at").toString();
    row.Result = line.value("result").toString();
    row.Step = line.value("step").toString();
    row.ErrorText = line.value("error_text").toString();
    row.ErrorCode = line.value("error_code").isNull() ? std::optional<qint32>()
                                                      : std::optional<qint32>(line.value("error_code").toInt());
    row.SerialWritten = flag("serial_written");
    row.FuseBlown = flag("fuse_blown");
}

}  // namespace

CLineStation::CLineStation(const QString& conninfo, const QString& pool)
    : m_db(conninfo), m_serials(m_db), m_pool(pool)
{
}

bool CLineStation::Fail(const QString& text)
{
    m_error = text;
    return false;
}

bool CLineStation::Open()
{
    m_error.clear();
    if (m_db.IsOpen() || m_db.Open())
        return true;
    return Fail(m_db.ErrorText());
}

bool CLineStation::NextNumber(int64_t& number)
{
    SPoolStatus status;
    if (!Open())
        return false;
    if (!m_serials.Show(m_pool, status))
        return Fail(m_serials.ErrorText());
    if (!status.FreeAgain.isEmpty())
        number = status.FreeAgain.front();
    else if (status.Last >= 0 && status.Next > status.Last)
        number = -1;
    else
        number = status.Next;
    return true;
}

bool CLineStation::Abandon(const QString& id)
{
    if (!Open())
        return false;
    QSqlQuery* q = m_db.Run(QStringLiteral("SELECT corv_abandon(?)"), {id},
                            QStringLiteral("Cannot settle the unconfirmed reservation %1 in the line database on %2")
                                .arg(id, ServerName()));
    if (!q)
        return Fail(m_db.ErrorText());
    q->finish();
    m_unsure.removeAll(id);
    return true;
}

bool CLineStation::Begin(CAttempt& attempt)
{
    if (!Open())
        return false;
    while (!m_unsure.isEmpty())
        if (!Abandon(m_unsure.front()))
            return false;
    if (attempt.Id.isEmpty())
        attempt.Id = CProductionRecord::NewId();
    if (attempt.StartedAt.isEmpty())
        attempt.StartedAt = CProductionRecord::NowUtc();
    attempt.EndedAt.clear();
    attempt.Result = QStringLiteral("running");
    QSqlQuery* q = m_db.Run(QStringLiteral("SELECT corv_begin(?, ?::json)"), {m_pool, RowJson(attempt)},
                            QStringLiteral("Cannot reserve a serial number from pool \"%1\"").arg(m_pool));
    if (!q || !q->next()) {
        // Gone while the statement ran: it may have committed.
        if (!m_db.IsOpen())
            m_unsure.append(attempt.Id);
        return Fail(m_db.ErrorText());
    }
    attempt.SerialValue = q->value(0).toLongLong();
    q->finish();
    return true;
}

bool CLineStation::Complete(const CAttempt& row, CAttempt* line)
{
    if (!row.SerialValue)
        return Fail(QStringLiteral("Attempt %1 has no serial number from the line").arg(row.Id));
    if (!Open())
        return false;
    QSqlQuery* q = m_db.Run(QStringLiteral("SELECT corv_complete(?::json)"), {RowJson(row)},
                            QStringLiteral("Cannot write the attempt to the line database on %1").arg(ServerName()));
    if (!q || !q->next())
        return Fail(m_db.ErrorText());
    const QJsonObject answer = QJsonDocument::fromJson(q->value(0).toString().toUtf8()).object();
    q->finish();
    if (line) {
        *line = row;
        TakeEnding(answer, *line);
    }
    return true;
}

bool CLineStation::PoolRecipe(CRecipe& recipe, bool& found)
{
    m_error.clear();
    CRecipeBook book(m_db);
    if (book.ForPool(m_pool, recipe, found))
        return true;
    return Fail(book.ErrorText());
}
