// corvantis-log export of 1,000,000 attempts, CSV and JSON, beside
// `sqlite3 -csv -header` of the same rows in the same order: wall time and
// peak memory of each, from /usr/bin/time -v, three rounds interleaved so
// that the machine's load falls on all alike. The record is built once (in
// the build folder) and kept.
//
//   bench_export [ROWS]      (default 1000000; output goes to /dev/null)
#include "ProductionRecord.h"
#include "RecordSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct CRun {
    double Seconds = -1;   // wall clock
    double PeakMiB = -1;   // maximum resident set size
};

// A record of rows attempts (the tests' sample rows), made unless it is there.
QString Record(int rows)
{
    const QString file = QStringLiteral(CORV_BENCH_DIR "/export-%1.db").arg(rows);
    QDir().mkpath(QStringLiteral(CORV_BENCH_DIR));
    CProductionRecord record;
    if (QFile::exists(file) && record.Open(file)) {
        const auto tally = record.Tally("2000", "3000");
        if (tally && tally->Passed + tally->Failed == rows)
            return file;
    }
    record.Close();
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(file + suffix);
    if (!record.Open(file))
        return {};
    for (int first = 1; first <= rows; first += 20000) {
        QList<CAttempt> chunk;
        for (int i = first; i < first + 20000 && i <= rows; ++i)
            chunk.append(SampleAttempt(i));
        if (!record.InsertAll(chunk))
            return {};
    }
    return file;
}

// One command under /usr/bin/time -v, its standard output to /dev/null.
CRun Measure(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start("/usr/bin/time", QStringList{"-v", program} + args);
    CRun run;
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed:\n%s\n", qPrintable(program), p.readAllStandardError().constData());
        return run;
    }
    const QString report = QString::fromLocal8Bit(p.readAllStandardError());
    const auto wall = QRegularExpression(R"(Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+))").match(report);
    const auto peak = QRegularExpression(R"(Maximum resident set size \(kbytes\): (\d+))").match(report);
    if (wall.hasMatch())
        run.Seconds = wall.captured(1).toDouble() * 3600 + wall.captured(2).toDouble() * 60 + wall.captured(3).toDouble();
    if (peak.hasMatch())
        run.PeakMiB = peak.captured(1).toDouble() / 1024.0;
    return run;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const QString file = Record(rows);
    if (file.isEmpty()) {
        std::fprintf(stderr, "the record of %d rows cannot be made\n", rows);
        return 1;
    }
    const QString log = QCoreApplication::applicationDirPath() + "/corvantis-log";
    struct CCommand {
        const char* Name;
        QString Program;
        QStringList Args;
        std::vector<double> Seconds, PeakMiB;
    };
    CCommand commands[] = {
        {"corvantis-log export --format csv", log, {"--database", file, "export", "--format", "csv"}, {}, {}},
        {"sqlite3 -csv -header (same rows, same order)", "sqlite3",
         {"-csv", "-header", file, "SELECT * FROM attempts ORDER BY started_at, id"}, {}, {}},
        {"corvantis-log export --format json", log, {"--database", file, "export", "--format", "json"}, {}, {}},
    };
    for (int round = 0; round < 3; ++round)
        for (CCommand& c : commands) {
            const CRun run = Measure(c.Program, c.Args);
            if (run.Seconds < 0)
                return 1;
            c.Seconds.push_back(run.Seconds);
            c.PeakMiB.push_back(run.PeakMiB);
        }
    std::printf("%d rows, median of 3 rounds\n", rows);
    for (const CCommand& c : commands)
        std::printf("%-46s %7.2f s  peak %6.1f MiB  (max %6.1f MiB)\n", c.Name, Median(c.Seconds),
                    Median(c.PeakMiB), *std::max_element(c.PeakMiB.begin(), c.PeakMiB.end()));
    std::printf("CSV time / sqlite3 time: %.2f\n", Median(commands[0].Seconds) / Median(commands[1].Seconds));
    return 0;
}
