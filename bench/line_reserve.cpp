// Reserve-and-record latency of a production line against a local PostgreSQL
// 15 server that this program starts for itself (tests/line/pg-server.sh):
// 1, 4 and 8 concurrent stations, each a process of its own with its own
// connection under the station's login, as on a line. One unit is what a
// station asks of the database for a unit that passes (CLineStation):
//   corv_begin: the attempt's "running" row + a serial number reserved
//   corv_complete: the number consumed as passed + the row completed
// each one durable transaction (the server's default synchronous commit).
// Prints the median and 99th percentile per unit and the allocations per
// second of all stations together.
//
//   line_reserve [UNITS_PER_RUN]      (default 2000 units per client count)
#include "PgTestServer.h"

#include "LineStation.h"
#include "SerialPool.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

int64_t NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool Unit(CLineStation& line, const QString& station)
{
    CAttempt unit;
    unit.Station = station;
    unit.Operator = QStringLiteral("op");
    unit.Device = QStringLiteral("MSP430F149");
    unit.Firmware = QStringLiteral("/srv/firmware/sensor-2.4.txt");
    unit.FirmwareSha256 = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    unit.SerialWidth = 2;
    unit.SerialAddress = 0x1000;
    if (!line.Begin(unit))
        return false;
    // ... the library programs the unit ...
    unit.Result = QStringLiteral("passed");
    unit.EndedAt = CProductionRecord::NowUtc();
    unit.SerialWritten = true;
    return line.Complete(unit);
}

// One station: connects, warms up, says "ready", waits for "go" on stdin,
// then prints "<start us> <end us>" and one latency (us) per unit.
int Child(const QString& conninfo, int units, const QString& station)
{
    CLineStation line(conninfo, QStringLiteral("Bench"));
    for (int i = 0; i < 20; ++i) {
        if (!Unit(line, station)) {
            std::fprintf(stderr, "%s\n", qPrintable(line.ErrorText()));
            return 1;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::string go;
    std::getline(std::cin, go);
    std::vector<int64_t> latencies;
    latencies.reserve(units);
    const int64_t start = NowUs();
    for (int i = 0; i < units; ++i) {
        const int64_t t0 = NowUs();
        if (!Unit(line, station)) {
            std::fprintf(stderr, "%s\n", qPrintable(line.ErrorText()));
            return 1;
        }
        latencies.push_back(NowUs() - t0);
    }
    std::printf("%lld %lld\n", (long long)start, (long long)NowUs());
    for (int64_t l : latencies)
        std::printf("%lld\n", (long long)l);
    return 0;
}

int64_t Percentile(std::vector<int64_t>& v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--child"))
        return Child(args[2], args[3].toInt(), args[4]);

    const int total = args.size() > 1 ? args[1].toInt() : 2000;
    CPgTestServer server;
    if (!server.Ok()) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(server.ErrorText()));
        return 1;
    }
    // The line set up by its administrator; the stations log in as stations.
    const QString conninfo = server.NewLine(QStringLiteral("bench"));
    {
        CLineDatabase db(server.AdminConninfo(QStringLiteral("bench")));
        CSerialPool pool(db);
        if (conninfo.isEmpty() || !pool.Create(QStringLiteral("Bench"), 1, -1)) {
            std::fprintf(stderr, "%s\n", qPrintable(conninfo.isEmpty() ? server.ErrorText() : pool.ErrorText()));
            return 1;
        }
    }
    std::printf("| stations | units | median per unit | p99 per unit | allocations/s |\n");
    std::printf("|---|---|---|---|---|\n");
    for (int clients : {1, 4, 8}) {
        const int units = total / clients;
        std::vector<QProcess*> children;
        for (int i = 0; i < clients; ++i) {
            auto* p = new QProcess;
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--child"), conninfo, QString::number(units),
                      QStringLiteral("station-%1").arg(i)});
            children.push_back(p);
        }
        for (QProcess* p : children) {
            while (!p->canReadLine() && p->waitForReadyRead(-1)) {}
            if (p->readLine().trimmed() != "ready") {
                std::fprintf(stderr, "a station did not start\n");
                return 1;
            }
        }
        for (QProcess* p : children) {
            p->write("go\n");
            p->waitForBytesWritten(-1);
        }
        std::vector<int64_t> latencies;
        int64_t first = INT64_MAX, last = 0;
        for (QProcess* p : children) {
            p->waitForFinished(-1);
            if (p->exitCode() != 0) {
                std::fprintf(stderr, "a station failed\n");
                return 1;
            }
            const QList<QByteArray> lines = p->readAllStandardOutput().split('\n');
            const QList<QByteArray> span = lines.value(0).split(' ');
            first = std::min<int64_t>(first, span.value(0).toLongLong());
            last = std::max<int64_t>(last, span.value(1).toLongLong());
            for (int i = 1; i < lines.size(); ++i)
                if (!lines[i].isEmpty())
                    latencies.push_back(lines[i].toLongLong());
            delete p;
        }
        const double perSecond = double(latencies.size()) * 1e6 / double(last - first);
        const int64_t median = Percentile(latencies, 0.5), p99 = Percentile(latencies, 0.99);
        std::printf("| %d | %zu | %.2f ms | %.2f ms | %.0f |\n", clients, latencies.size(),
                    double(median) / 1000.0, double(p99) / 1000.0, perSecond);
        std::fflush(stdout);
    }
    return 0;
}
