#include "PoolCommand.h"

#include "SerialPool.h"

const char* const PoolUsage =
    "       corvantis-log LINE pool create NAME --first N [--last M]\n"
    "       corvantis-log LINE pool show [NAME]\n"
    "       corvantis-log LINE pool raise NAME N\n"
    "N and M are serial numbers from 0 to 4294967295; LINE is --line or --database CONNINFO.\n";

namespace {

int Bad(std::ostream& err, const QString& what)
{
    err << "corvantis-log: " << what.toStdString() << "\n" << "usage:\n" << PoolUsage;
    return 1;
}

bool Number(const QString& text, int64_t& number)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    if (!ok || value > qulonglong(CSerialPool::MaxNumber) || text.startsWith(QLatin1Char('+')))
        return false;
    number = int64_t(value);
    return true;
}

// 1 when the pool refused the request, 2 when the database failed.
int Refused(CLineDatabase& db, const QString& text, std::ostream& err)
{
    err << "corvantis-log: " << text.toStdString() << "\n";
    return db.IsOpen() || db.ErrorText().isEmpty() ? 1 : 2;
}

void Print(const SPoolStatus& p, std::ostream& out)
{
    QStringList again;
    for (int i = 0; i < p.FreeAgain.size() && i < 20; ++i)
        again << QString::number(p.FreeAgain[i]);
    if (p.FreeAgain.size() > 20)
        again << QStringLiteral("... (%1 in all)").arg(p.FreeAgain.size());
    out << "pool: " << p.Name.toStdString() << "\n"
        << "first: " << p.First << "\n"
        << "last: " << (p.Last < 0 ? std::string("none") : std::to_string(p.Last)) << "\n"
        << "next: " << p.Next << "\n"
        << "given back: " << (again.isEmpty() ? std::string("none") : again.join(QStringLiteral(", ")).toStdString())
        << "\n"
        << "free: " << (p.Last < 0 ? std::string("no last number") : std::to_string(p.Free())) << "\n"
        << "reserved: " << p.Reserved << "\n"
        << "passed: " << p.Passed << "\n"
        << "rejected: " << p.Rejected << "\n"
        << "skipped: " << p.Skipped << "\n";
}

}  // namespace

int RunPoolCommand(const QString& conninfo, const QStringList& args, std::ostream& out, std::ostream& err)
{
    const QString verb = args.value(0);
    CLineDatabase db(conninfo);
    CSerialPool pool(db);
    if (verb == QLatin1String("create")) {
        QString name;
        int64_t first = -1, last = -1;
        for (int i = 1; i < args.size(); ++i) {
            const QString& a = args[i];
            if (a == QLatin1String("--first") || a == QLatin1String("--last")) {
                int64_t& target = a == QLatin1String("--first") ? first : last;
                if (i + 1 >= args.size() || !Number(args[i + 1], target))
                    return Bad(err, QStringLiteral("%1 needs a number from 0 to 4294967295").arg(a));
                ++i;
            } else if (name.isEmpty() && !a.startsWith(QLatin1String("--"))) {
                name = a;
            } else {
                return Bad(err, QStringLiteral("pool create: unexpected \"%1\"").arg(a));
            }
        }
        if (name.isEmpty() || first < 0)
            return Bad(err, QStringLiteral("pool create needs a NAME and --first N"));
        if (!pool.Create(name, first, last))
            return Refused(db, pool.ErrorText(), err);
        out << "created pool " << name.toStdString() << ": numbers from " << first
            << (last < 0 ? std::string(" up") : " to " + std::to_string(last)) << "\n";
        return 0;
    }
    if (verb == QLatin1String("raise")) {
        int64_t next = 0;
        if (args.size() != 3)
            return Bad(err, QStringLiteral("pool raise needs a NAME and a number"));
        if (!Number(args[2], next))
            return Bad(err, QStringLiteral("pool raise: \"%1\" is no number from 0 to 4294967295").arg(args[2]));
        if (!pool.Raise(args[1], next))
            return Refused(db, pool.ErrorText(), err);
        out << "pool " << args[1].toStdString() << ": next number " << next << "\n";
        return 0;
    }
    if (verb == QLatin1String("show")) {
        if (args.size() > 2)
            return Bad(err, QStringLiteral("pool show takes at most one NAME"));
        QList<SPoolStatus> pools;
        if (args.size() == 2) {
            SPoolStatus one;
            if (!pool.Show(args[1], one))
                return Refused(db, pool.ErrorText(), err);
            pools << one;
        } else if (!pool.List(pools)) {
            return Refused(db, pool.ErrorText(), err);
        }
        for (int i = 0; i < pools.size(); ++i) {
            if (i > 0)
                out << "\n";
            Print(pools[i], out);
        }
        if (pools.isEmpty())
            out << "no pools\n";
        return 0;
    }
    return Bad(err, verb.isEmpty() ? QStringLiteral("pool needs create, show or raise")
                                   : QStringLiteral("pool: unknown command \"%1\"").arg(verb));
}

int RunLineCommand(const QString& conninfo, const QStringList& args, std::ostream& out, std::ostream& err)
{
    const auto bad = [&](const QString& what) {
        err << "corvantis-log: " << what.toStdString() << "\n"
            << "usage: corvantis-log --database ADMIN_CONNINFO line setup --station-role ROLE\n";
        return 1;
    };
    if (args.value(0) != QLatin1String("setup"))
        return bad(args.isEmpty() ? QStringLiteral("line needs setup")
                                  : QStringLiteral("line: unknown command \"%1\"").arg(args[0]));
    if (args.size() != 3 || args[1] != QLatin1String("--station-role") || args[2].isEmpty())
        return bad(QStringLiteral("line setup needs --station-role ROLE"));
    CLineDatabase db(conninfo);
    if (!db.Setup(args[2]))
        return Refused(db, db.ErrorText(), err);
    out << "line database on " << db.ServerName().toStdString() << ": schema " << CLineDatabase::SchemaVersion
        << ", station role " << args[2].toStdString() << "\n";
    return 0;
}
