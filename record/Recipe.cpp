#include "Recipe.h"

#include "LineDatabase.h"
#include "ProductionRecord.h"
#include "SettingsText.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace {

// The columns a recipe is read with, in CRecipe's order.
constexpr const char* RecipeColumns =
    "r.name, r.version, r.device, r.vcc, r.firmware_name, r.firmware_sha256, r.erase_info, r.blow_fuse,"
    " r.serial_type, COALESCE(r.serial_address, ''), COALESCE(r.pool, ''),"
    " to_char(r.created_at AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), r.created_by,"
    " EXISTS (SELECT 1 FROM recipe_retired x WHERE x.name = r.name)";

CRecipe ReadRecipe(const QSqlQuery& q)
{
    CRecipe r;
    int i = 0;
    r.Name = q.value(i++).toString();
    r.Version = q.value(i++).toInt();
    r.Device = q.value(i++).toString();
    r.Vcc = q.value(i++).toDouble();
    r.FirmwareName = q.value(i++).toString();
    r.FirmwareSha256 = q.value(i++).toString();
    r.EraseInfo = q.value(i++).toBool();
    r.BlowFuse = q.value(i++).toBool();
    r.SerialType = q.value(i++).toInt();
    r.SerialAddress = q.value(i++).toString();
    r.Pool = q.value(i++).toString();
    r.CreatedAt = q.value(i++).toString();
    r.CreatedBy = q.value(i++).toString();
    r.Retired = q.value(i++).toBool();
    return r;
}

QString Value(const CSettingsValues& values, const char* key)
{
    const auto it = values.find(key);
    return it == values.end() ? QString() : QString::fromStdString(it->second);
}

QString Login()
{
    CAttempt who;
    CProductionRecord::FillStation(who);
    return who.Operator;
}

}  // namespace

QString CRecipe::Title() const { return QStringLiteral("%1 version %2").arg(Name).arg(Version); }

QString Sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString RecipeNameProblem(const QString& name)
{
    static const QRegularExpression good(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$"));
    if (good.match(name).hasMatch())
        return {};
    return QStringLiteral("\"%1\" cannot name a recipe: use 1 to 64 letters, digits, '.', '_' or '-', "
                          "beginning with a letter or digit").arg(name);
}

CRecipeBook::CRecipeBook(CLineDatabase& line) : m_line(&line) {}

CRecipeBook::CRecipeBook(const QString& folder) : m_folder(QDir::cleanPath(folder)) {}

bool CRecipeBook::Fail(const QString& text)
{
    m_error = text;
    return false;
}

QString CRecipeBook::RecipePath(const QString& name, int version) const
{
    return QStringLiteral("%1/%2/%3.recipe").arg(m_folder, name).arg(version);
}

QString CRecipeBook::FirmwarePath(const QString& name, int version) const
{
    return QStringLiteral("%1/%2/%3.firmware").arg(m_folder, name).arg(version);
}

QString CRecipeBook::RetiredPath(const QString& name) const { return m_folder + '/' + name + "/retired"; }

bool CRecipeBook::FolderVersions(const QString& name, QList<int>& versions)
{
    versions.clear();
    const QDir dir(m_folder + '/' + name);
    for (const QString& file : dir.entryList({QStringLiteral("*.recipe")}, QDir::Files)) {
        bool ok = false;
        const int v = file.chopped(7).toInt(&ok);
        if (ok && v > 0 && file == QStringLiteral("%1.recipe").arg(v))
            versions << v;
    }
    std::sort(versions.begin(), versions.end());
    return true;
}

bool CRecipeBook::Create(CRecipe& r)
{
    m_error.clear();
    if (const QString problem = RecipeNameProblem(r.Name); !problem.isEmpty())
        return Fail(problem);
    r.FirmwareSha256 = Sha256Hex(r.Firmware);
    r.Retired = false;
    if (m_line) {
        const QString what = QStringLiteral("Cannot make recipe %1").arg(r.Name);
        if (!m_line->Begin())
            return Fail(m_line->ErrorText());
        auto fail = [&](const QString& text) {
            m_line->Rollback();
            return Fail(text.isEmpty() ? m_line->ErrorText() : text);
        };
        // One recipe made at a time: versions and pools are decided in order.
        if (!m_line->Run(QStringLiteral("SELECT pg_advisory_xact_lock(1131376242)"), {}, what))
            return fail({});
        QSqlQuery* q = m_line->Run(QStringLiteral("SELECT 1 FROM recipe_retired WHERE name = ?"), {r.Name}, what);
        if (!q)
            return fail({});
        if (q->next())
            return fail(QStringLiteral("Recipe %1 is retired: make the new setup under another name").arg(r.Name));
        if (!r.Pool.isEmpty()) {
            q = m_line->Run(QStringLiteral("SELECT 1 FROM serial_pool WHERE name = ?"), {r.Pool}, what);
            if (!q)
                return fail({});
            if (!q->next())
                return fail(QStringLiteral("There is no pool named \"%1\"").arg(r.Pool));
            q = m_line->Run(QStringLiteral("SELECT r.name FROM recipe r WHERE r.name <> ? AND r.pool = ?"
                                           " AND r.version = (SELECT max(version) FROM recipe WHERE name = r.name)"
                                           " AND NOT EXISTS (SELECT 1 FROM recipe_retired x WHERE x.name = r.name)"),
                            {r.Name, r.Pool}, what);
            if (!q)
                return fail({});
            if (q->next())
                return fail(QStringLiteral("Pool \"%1\" belongs to recipe %2: retire it first, or make a new "
                                           "version of it").arg(r.Pool, q->value(0).toString()));
        }
        q = m_line->Run(
            QStringLiteral(
                "INSERT INTO recipe (name, version, device, vcc, firmware, firmware_name, firmware_sha256,"
                " erase_info, blow_fuse, serial_type, serial_address, pool)"
                " SELECT ?::varchar, COALESCE(max(version), 0) + 1, ?::varchar, ?::double precision, ?::bytea,"
                " ?::text, ?::varchar, ?::boolean, ?::boolean, ?::integer, NULLIF(?::varchar, ''),"
                " NULLIF(?::varchar, '') FROM recipe WHERE name = ?::varchar"
                " RETURNING version, to_char(created_at AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'),"
                " created_by"),
            {r.Name, r.Device, r.Vcc, r.Firmware, r.FirmwareName, r.FirmwareSha256, r.EraseInfo, r.BlowFuse,
             r.SerialType, r.SerialAddress, r.Pool, r.Name},
            what);
        if (!q || !q->next())
            return fail({});
        r.Version = q->value(0).toInt();
        r.CreatedAt = q->value(1).toString();
        r.CreatedBy = q->value(2).toString();
        if (!m_line->Commit())
            return Fail(m_line->ErrorText());
        return true;
    }
    if (!r.Pool.isEmpty())
        return Fail(QStringLiteral("A recipe folder serves a station on its own: --pool needs the line database"));
    const QString dir = m_folder + '/' + r.Name;
    if (QFileInfo::exists(RetiredPath(r.Name)))
        return Fail(QStringLiteral("Recipe %1 is retired: make the new setup under another name").arg(r.Name));
    if (!QDir().mkpath(dir))
        return Fail("Cannot make the recipe's folder " + dir);
    QList<int> versions;
    FolderVersions(r.Name, versions);
    r.Version = versions.isEmpty() ? 1 : versions.last() + 1;
    r.CreatedAt = CProductionRecord::NowUtc();
    r.CreatedBy = Login();
    // The image first, then the recipe that names it: a version is there
    // only once both are whole.
    const QString firmware = FirmwarePath(r.Name, r.Version), recipe = RecipePath(r.Name, r.Version);
    QSaveFile image(firmware);
    if (!image.open(QIODevice::WriteOnly) || image.write(r.Firmware) != r.Firmware.size() || !image.commit())
        return Fail("Cannot write " + firmware + ": " + image.errorString());
    CSettingsValues values{
        {"Name", r.Name.toStdString()},
        {"Version", std::to_string(r.Version)},
        {"Device", r.Device.toStdString()},
        {"Vcc", QString::number(r.Vcc).toStdString()},
        {"FirmwareName", r.FirmwareName.toStdString()},
        {"FirmwareSha256", r.FirmwareSha256.toStdString()},
        {"EraseInfo", r.EraseInfo ? "1" : "0"},
        {"BlowFuse", r.BlowFuse ? "1" : "0"},
        {"SerialType", std::to_string(r.SerialType)},
        {"SerialAddress", r.SerialAddress.toStdString()},
        {"CreatedAt", r.CreatedAt.toStdString()},
        {"CreatedBy", r.CreatedBy.toStdString()},
    };
    QSaveFile file(recipe);
    const QByteArray text = QByteArray::fromStdString(RenderSettingsText(values));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        QFile::remove(firmware);
        return Fail("Cannot write " + recipe + ": " + file.errorString());
    }
    return true;
}

// The first row of a query that selects the recipe columns and the image.
bool CRecipeBook::TakeOne(QSqlQuery* q, CRecipe& r, bool& found)
{
    if (!q)
        return Fail(m_line->ErrorText());
    if (!q->next())
        return true;
    r = ReadRecipe(*q);
    r.Firmware = q->value(14).toByteArray();
    found = true;
    return true;
}

bool CRecipeBook::Load(const QString& name, int version, CRecipe& r, bool& found)
{
    m_error.clear();
    found = false;
    if (const QString problem = RecipeNameProblem(name); !problem.isEmpty())
        return Fail(problem);
    const QString what = QStringLiteral("Cannot read recipe %1").arg(name);
    if (m_line) {
        QSqlQuery* q = m_line->Run(QStringLiteral("SELECT %1, r.firmware FROM recipe r WHERE r.name = ? AND"
                                                  " r.version = COALESCE(NULLIF(?::integer, 0),"
                                                  " (SELECT max(version) FROM recipe WHERE name = ?))")
                                       .arg(QLatin1String(RecipeColumns)),
                                   {name, version, name}, what);
        return TakeOne(q, r, found);
    }
    QList<int> versions;
    FolderVersions(name, versions);
    if (versions.isEmpty() || (version > 0 && !versions.contains(version)))
        return true;
    const int v = version > 0 ? version : versions.last();
    QFile file(RecipePath(name, v));
    if (!file.open(QIODevice::ReadOnly))
        return Fail(what + ": " + file.fileName() + ": " + file.errorString());
    const QByteArray text = file.readAll();
    const CSettingsValues values = ParseSettingsText(std::string_view(text.constData(), size_t(text.size())));
    r = CRecipe();
    r.Name = name;
    r.Version = v;
    r.Device = Value(values, "Device");
    bool vccOk = false, typeOk = false;
    r.Vcc = Value(values, "Vcc").toDouble(&vccOk);
    r.FirmwareName = Value(values, "FirmwareName");
    r.FirmwareSha256 = Value(values, "FirmwareSha256");
    r.EraseInfo = Value(values, "EraseInfo") == QLatin1String("1");
    r.BlowFuse = Value(values, "BlowFuse") == QLatin1String("1");
    r.SerialType = Value(values, "SerialType").toInt(&typeOk);
    r.SerialAddress = Value(values, "SerialAddress");
    r.CreatedAt = Value(values, "CreatedAt");
    r.CreatedBy = Value(values, "CreatedBy");
    r.Retired = QFileInfo::exists(RetiredPath(name));
    if (Value(values, "Name") != name || Value(values, "Version") != QString::number(v) || r.Device.isEmpty() ||
        !vccOk || !typeOk || r.SerialType < 0 || r.SerialType > 3 || r.FirmwareSha256.size() != 64)
        return Fail(QStringLiteral("%1: %2 is not a whole recipe").arg(what, file.fileName()));
    QFile image(FirmwarePath(name, v));
    if (!image.open(QIODevice::ReadOnly))
        return Fail(what + ": " + image.fileName() + ": " + image.errorString());
    r.Firmware = image.readAll();
    found = true;
    return true;
}

bool CRecipeBook::ForPool(const QString& pool, CRecipe& r, bool& found)
{
    m_error.clear();
    found = false;
    if (!m_line)
        return Fail(QStringLiteral("A recipe folder has no pools"));
    QSqlQuery* q = m_line->Run(
        QStringLiteral("SELECT %1, r.firmware FROM recipe r WHERE r.pool = ?"
                       " AND r.version = (SELECT max(version) FROM recipe WHERE name = r.name)"
                       " AND NOT EXISTS (SELECT 1 FROM recipe_retired x WHERE x.name = r.name)"
                       " ORDER BY r.created_at DESC LIMIT 1")
            .arg(QLatin1String(RecipeColumns)),
        {pool}, QStringLiteral("Cannot read the recipe of pool \"%1\"").arg(pool));
    return TakeOne(q, r, found);
}

bool CRecipeBook::List(QList<CRecipe>& recipes)
{
    m_error.clear();
    recipes.clear();
    if (m_line) {
        QSqlQuery* q = m_line->Run(
            QStringLiteral("SELECT %1 FROM recipe r ORDER BY r.name, r.version").arg(QLatin1String(RecipeColumns)),
            {}, QStringLiteral("Cannot list the recipes"));
        if (!q)
            return Fail(m_line->ErrorText());
        while (q->next())
            recipes << ReadRecipe(*q);
        return true;
    }
    const QStringList names = QDir(m_folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (!RecipeNameProblem(name).isEmpty())
            continue;
        QList<int> versions;
        FolderVersions(name, versions);
        for (int v : versions) {
            CRecipe r;
            bool found = false;
            if (!Load(name, v, r, found))
                return false;
            r.Firmware.clear();
            recipes << r;
        }
    }
    return true;
}

bool CRecipeBook::Retire(const QString& name)
{
    m_error.clear();
    CRecipe r;
    bool found = false;
    if (!Load(name, 0, r, found))
        return false;
    if (!found)
        return Fail(QStringLiteral("There is no recipe named %1").arg(name));
    if (r.Retired)
        return true;
    if (m_line) {
        if (!m_line->Run(QStringLiteral("INSERT INTO recipe_retired (name) VALUES (?) ON CONFLICT DO NOTHING"), {name},
                         QStringLiteral("Cannot retire recipe %1").arg(name)))
            return Fail(m_line->ErrorText());
        return true;
    }
    QSaveFile mark(RetiredPath(name));
    const QByteArray text = QStringLiteral("RetiredAt=%1\nRetiredBy=%2\n")
                                .arg(CProductionRecord::NowUtc(), Login()).toUtf8();
    if (!mark.open(QIODevice::WriteOnly) || mark.write(text) != text.size() || !mark.commit())
        return Fail("Cannot write " + mark.fileName() + ": " + mark.errorString());
    return true;
}
