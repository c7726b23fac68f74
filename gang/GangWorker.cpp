// corvantis-gang-worker: one socket of a gang. Reads one request (a JSON
// object: the command, the setup with the socket's port and serial number)
// from standard input, runs the station's procedure for it on its own port
// and writes what happens to standard output, one JSON object a line,
// flushed at once: "touched" once the library is called, "sent" before the
// library is asked to write the serial number, status texts, bar positions,
// the messages, and last the result. It keeps no record, no lock and no
// settings: the parent's station core does, and settles the number.
// SIGTERM stops the unit at its next step (interrupted, port released).
#include "Gang.h"
#include "Station.h"

#include "VELK.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <signal.h>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<bool> g_stop{false};

extern "C" void RequestStop(int) { g_stop = true; }

class CWorkerView : public CStationView, public CTextWindow, public CProgressWindow {
public:
    const CStation* Station = nullptr;

    void Emit(const QJsonObject& object)
    {
        std::fprintf(stdout, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    }
    void AttemptStarted() override {}
    void AttemptPassed() override {}
    void AttemptFailed() override {}
    void Tell(const std::string& text) override { Emit({{"message", QString::fromStdString(text)}}); }
    void SetWindowText(const std::string& text) override
    {
        // The session sets a status text before each library call it makes,
        // and marks the number as sent before the text that precedes writing it.
        const CVELK* session = Station ? Station->OpenSessionHandle().get() : nullptr;
        if (session && !Touched)
            Emit({{"touched", Touched = true}});
        if (session && session->SerialNumberSent() && !Sent)
            Emit({{"sent", Sent = true}});
        Emit({{"status", QString::fromStdString(text)}});
    }
    void SetRange32(int32_t low, int32_t high) override { Emit({{"range", QJsonArray{low, high}}}); }
    int32_t SetPos(int32_t pos) override
    {
        const int32_t previous = Pos;
        Pos = pos;
        Emit({{"bar", pos}});
        return previous;
    }

private:
    bool Touched = false;
    bool Sent = false;
    int32_t Pos = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) {
        std::fprintf(stderr, "corvantis-gang-worker: standard input cannot be read\n");
        return 2;
    }
    const QJsonDocument request = QJsonDocument::fromJson(in.readLine());
    const QString command = request.object().value("command").toString();
    if (!request.isObject() || (command != "batch" && command != "fuse")) {
        std::fprintf(stderr, "corvantis-gang-worker: the request is no JSON object with command batch or fuse\n");
        return 2;
    }
    CStationSetup setup = GangRequestSetup(request.object());
    CWorkerView view;
    CStation station(view, &view, &view);
    view.Station = &station;
    station.WorkWithoutRecord();
    station.SetStopFlag(&g_stop);
    const CUnitResult r = command == "batch" ? station.RunBatch(setup) : station.CheckFuse(setup);
    QJsonObject result{{"result", QString::fromStdString(r.Result)},
                       {"step", QString::fromStdString(r.Step)},
                       {"error", QString::fromStdString(r.ErrorText)},
                       {"touched", r.Touched},
                       {"sent", r.SerialSent},
                       {"fuse", r.FuseBlown}};
    result.insert("code", r.Code ? QJsonValue(*r.Code) : QJsonValue());
    view.Emit(result);
    return r.Result == "passed" ? 0 : 1;
}
