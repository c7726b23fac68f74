// corvantis-gang-worker: one socket of a gang. Reads one request (a JSON
// object: the command, the setup with the socket's port and serial number)
// from standard input, runs the station's procedure for it on its own port
// and writes what happens to standard output, one JSON object a line,
// flushed at once: "touched" once the library is called, "sent" before the
// library is asked to write the serial number, status texts, bar positions,
// the messages, and the result. The result of a unit that was programmed
// or failed on the socket comes before the port is released (and a passed
// unit leaves the socket): the worker then waits for one line on standard
// input, which the parent sends once the unit's row is complete. It keeps
// no record, no lock and no settings: the parent's station core does, and
// settles the number. SIGTERM stops the unit at its next step
// (interrupted, port released).
#include "Gang.h"
#include "Station.h"

#include "VELK.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

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
    void AttemptPassed() override { Settle(); }
    void AttemptFailed() override { Settle(); }
    // The result, once (the end of a command that never reached the
    // unit's outcome tells it last).
    void Result(const CUnitResult& r, const std::string& message)
    {
        if (Told)
            return;
        Told = true;
        QJsonObject result{{"result", QString::fromStdString(r.Result)},
                           {"step", QString::fromStdString(r.Step)},
                           {"error", QString::fromStdString(r.ErrorText)},
                           {"message", QString::fromStdString(message)},
                           {"touched", r.Touched},
                           {"sent", r.SerialSent},
                           {"fuse", r.FuseBlown}};
        result.insert("code", r.Code ? QJsonValue(*r.Code) : QJsonValue());
        Emit(result);
    }
    std::string LastMessage;
    void Tell(const std::string& text) override
    {
        LastMessage = text;
        Emit({{"message", QString::fromStdString(text)}});
    }
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
    // The unit's outcome, before the port is let go: told, then held until
    // the parent has recorded it.
    void Settle()
    {
        const CUnitResult& r = Station->Attempt();
        const CVELK* session = Station->OpenSessionHandle().get();
        const bool failed = r.Result != "passed";
        std::string message = failed ? r.ErrorText + (session ? session->Explanation() : "") : "";
        if (failed && r.Step.empty())
            return;  // not on the unit: the end tells it
        Result(r, message);
        // No answer: the station died before it recorded the unit (its
        // death closes the pipe before it kills this worker). The unit must
        // not leave the socket unrecorded: end here, port held to the last.
        char ack[16];
        if (!std::fgets(ack, sizeof ack, stdin))
            std::_Exit(3);
    }

    bool Told = false;
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

    char* text = nullptr;
    size_t size = 0;
    const ssize_t length = getline(&text, &size, stdin);
    const QJsonDocument request = QJsonDocument::fromJson(QByteArray(text, length > 0 ? length : 0));
    std::free(text);
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
    view.Result(r, view.LastMessage);
    return r.Result == "passed" ? 0 : 1;
}
