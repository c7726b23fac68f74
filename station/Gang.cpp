#include "Gang.h"

#include "StationGuards.h"

#include "ProductionRecord.h"
#include "SerialNumber.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

struct CGang::CSocket {
    std::string Port;
    bool Begun = false;          // its row (and number) exist: a worker runs for it
    bool Done = false;           // the worker has ended
    bool Settled = false;        // its rows are complete
    bool HaveResult = false;     // the worker sent its result
    bool Sent = false;           // the worker said the number may have reached the unit
    bool Silent = false;         // killed for saying nothing past the limit
    QString RecordId;
    std::optional<CAttempt> LineAttempt;
    CUnitResult Outcome;
    std::string Message;         // the operator's text from the worker
    QJsonObject Request;
    std::unique_ptr<QProcess> Worker;
    std::unique_ptr<QTimer> Silence;
};

QJsonObject GangRequest(const char* command, const CStationSetup& s)
{
    return {{"command", command},
            {"port", QString::fromStdString(s.CommPort)},
            {"baud", s.Baud},
            {"device", QString::fromStdString(s.DeviceName)},
            {"deviceNumber", s.DeviceNumber},
            {"vcc", s.Vcc},
            {"firmware", QString::fromStdString(s.FileName)},
            {"eraseInfo", s.EraseFlash},
            {"blowFuse", s.BlowFuse},
            {"serial", static_cast<qint64>(s.SerialNumber)},
            {"serialType", s.SerialType},
            {"serialAddress", QString::fromStdString(s.SerialAddress)}};
}

CStationSetup GangRequestSetup(const QJsonObject& r)
{
    CStationSetup s;
    s.CommPort = r.value("port").toString().toStdString();
    s.Baud = r.value("baud").toInt();
    s.DeviceName = r.value("device").toString().toStdString();
    s.DeviceNumber = r.value("deviceNumber").toInt(-1);
    s.Vcc = r.value("vcc").toDouble();
    s.FileName = r.value("firmware").toString().toStdString();
    s.EraseFlash = r.value("eraseInfo").toInt();
    s.BlowFuse = r.value("blowFuse").toInt();
    s.SerialNumber = static_cast<uint32_t>(r.value("serial").toInteger());
    s.SerialType = r.value("serialType").toInt();
    s.SerialAddress = r.value("serialAddress").toString().toStdString();
    return s;
}

CGang::CGang(CStation& station, CGangView& view) : Station(station), View(view) {}

CGang::~CGang()
{
    for (size_t i = 0; i < Sockets.size(); ++i) {
        QProcess* worker = Sockets[i]->Worker.get();
        if (worker && worker->state() != QProcess::NotRunning) {
            worker->kill();
            worker->waitForFinished(5000);
        }
        Finish(i);
    }
}

bool CGang::RunAll(const CStationSetup& setup, const std::vector<std::string>& ports)
{
    return Start("batch", setup, ports);
}

bool CGang::CheckFuse(const CStationSetup& setup, const std::vector<std::string>& ports)
{
    return Start("fuse", setup, ports);
}

std::vector<CUnitResult> CGang::Results() const
{
    std::vector<CUnitResult> results;
    for (const auto& socket : Sockets)
        results.push_back(socket->Outcome);
    return results;
}

bool CGang::Start(const char* kind, const CStationSetup& setup, const std::vector<std::string>& ports)
{
    if (Running()) {
        Station.View.Tell("The sockets are still running: the next run starts once every socket has finished.");
        return false;
    }
    if (ports.empty()) {
        Station.View.Tell("No socket is in use: tick \"in use\" on the sockets to program.");
        return false;
    }
    Kind = kind;
    RunSetup = setup;
    Sockets.clear();
    Station.Use(setup);
    Station.CommPort = ports.front();
    Station.Outcome = {};
    Station.Outcome.Result = "refused";
    // In production mode the recipe's setup, whatever the window sent; the
    // workers program the private image the core checked against it.
    if (!Station.EnterRecipe())
        return false;
    // The setup is checked once, before any number is taken.
    CSerialNumber record;
    const bool prepared = Kind != "batch" || Station.PrepareSerialNumber(record);
    // What the workers run: the setup as the core settled it (the recipe's
    // fields and private image, the address as converted).
    RunSetup = static_cast<const CStationSetup&>(Station);
    RunSetup.CommPort = setup.CommPort;
    if (!prepared)
        return false;
    Numbered = Kind == "batch" && Station.SerialType != 0 && !Station.Line;
    FirstNumber = Station.SerialNumber;
    uint32_t next = FirstNumber;
    for (const std::string& port : ports) {
        Sockets.push_back(std::make_unique<CSocket>());
        Sockets.back()->Port = port;
        BeginSocket(*Sockets.back(), record, next);
    }
    // Every number is consumed in the store before any unit can see one.
    if (Numbered && next != FirstNumber && Station.SettingsLoaded && !Station.StoreNextNumber(next)) {
        const std::string text = "Unable to reserve serial numbers " + std::to_string(FirstNumber) + " to " +
                                 std::to_string(next - 1) + "\nThe settings cannot be written to\n" +
                                 Station.OpenSettingsStore().Location();
        for (auto& socket : Sockets) {
            if (!socket->Begun)
                continue;
            CAttemptEnd end;
            end.Step = "Reservation";
            end.SerialWritten = false;
            socket->Message = text;
            EndSocket(*socket, &end);
            socket->Begun = false;
        }
        Station.View.Tell(text);
    }
    Unfinished = 0;
    for (size_t i = 0; i < Sockets.size(); ++i) {
        if (Sockets[i]->Begun) {
            ++Unfinished;
        } else {
            Sockets[i]->Done = true;
            View.SocketFinished(i, Sockets[i]->Outcome, Sockets[i]->Message);
        }
    }
    if (Unfinished == 0) {
        View.AllFinished();
        return true;
    }
    for (size_t i = 0; i < Sockets.size(); ++i)
        if (Sockets[i]->Begun)
            StartWorker(i);
    return true;
}

// The socket's number and running row; false (socket not run) when either
// cannot be had.
bool CGang::BeginSocket(CSocket& socket, CSerialNumber& record, uint32_t& nextLocal)
{
    Station.CommPort = socket.Port;
    Station.Outcome = {};
    Station.Outcome.Result = "refused";
    CUnitResult& out = socket.Outcome;
    out.Result = "refused";
    if (Numbered) {
        if (const std::string problem = SerialNumberProblem(nextLocal, Station.SerialType); !problem.empty()) {
            out.ErrorText = socket.Message = problem;
            return false;
        }
        Station.SerialNumber = record.Value = nextLocal;
        record.Convert();
    }
    const bool batch = Kind == "batch";
    if (!Station.BeginRecord(batch ? "batch" : "fuse", batch ? &record : nullptr, RunSetup.DeviceNumber)) {
        out.ErrorText = socket.Message = "This socket did not run: its attempt could not be recorded.";
        return false;
    }
    socket.Begun = true;
    socket.RecordId = Station.RecordId;
    socket.LineAttempt = Station.LineAttempt;
    Station.RecordId.clear();
    Station.LineAttempt.reset();
    out.Started = true;
    if (batch && Station.SerialType != 0)
        out.SerialNumber = Station.SerialNumber;  // in a line, the pool's
    if (Numbered)
        ++nextLocal;
    socket.Request = GangRequest(batch ? "batch" : "fuse", static_cast<const CStationSetup&>(Station));
    return true;
}

void CGang::StartWorker(size_t index)
{
    CSocket& socket = *Sockets[index];
    View.SocketStarted(index, socket.Outcome.SerialNumber);
    socket.Worker = std::make_unique<QProcess>();
    QProcess& worker = *socket.Worker;
    worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&worker, &QProcess::readyReadStandardOutput, [this, index] { ReadWorker(index); });
    QObject::connect(&worker, &QProcess::finished, [this, index] { Finish(index); });
    QObject::connect(&worker, &QProcess::errorOccurred, [this, index](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            Finish(index);
    });
    socket.Silence = std::make_unique<QTimer>();
    socket.Silence->setSingleShot(true);
    QObject::connect(socket.Silence.get(), &QTimer::timeout, [this, index] {
        CSocket& s = *Sockets[index];
        s.Silent = true;
        s.Worker->kill();
    });
    // A station that dies takes its workers with it: their ports are free
    // for the next start, and no unit goes on without its record.
    const pid_t parent = getpid();
    worker.setChildProcessModifier([parent] {
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
            _exit(127);
    });
    if (PrepareWorker)
        PrepareWorker(index, worker);
    const QString program = !WorkerProgram.isEmpty()
                                ? WorkerProgram
                                : QCoreApplication::applicationDirPath() + QStringLiteral("/corvantis-gang-worker");
    if (worker.program().isEmpty())
        worker.setProgram(program);
    socket.Silence->start(SilenceLimitMs);
    worker.start();
    worker.write(QJsonDocument(socket.Request).toJson(QJsonDocument::Compact) + '\n');
}

void CGang::ReadWorker(size_t index)
{
    CSocket& socket = *Sockets[index];
    if (socket.Done || !socket.Worker)
        return;
    if (socket.Silence && !socket.Silent)
        socket.Silence->start(SilenceLimitMs);
    while (socket.Worker->canReadLine()) {
        const QJsonDocument line = QJsonDocument::fromJson(socket.Worker->readLine());
        if (line.isObject())
            TakeLine(socket, index, line.object());
    }
}

void CGang::TakeLine(CSocket& socket, size_t index, const QJsonObject& line)
{
    if (line.contains("sent"))
        socket.Sent = socket.Sent || line.value("sent").toBool();
    if (line.contains("touched"))
        socket.Outcome.Touched = socket.Outcome.Touched || line.value("touched").toBool();
    if (line.contains("status"))
        View.SocketStatus(index, line.value("status").toString().toStdString());
    if (line.contains("range")) {
        const QJsonArray range = line.value("range").toArray();
        View.SocketRange(index, range.at(0).toInt(), range.at(1).toInt());
    }
    if (line.contains("bar"))
        View.SocketBar(index, line.value("bar").toInt());
    if (line.contains("message"))
        socket.Message = line.value("message").toString().toStdString();
    if (!line.contains("result") || socket.HaveResult)
        return;
    socket.HaveResult = true;
    CUnitResult& out = socket.Outcome;
    out.Result = line.value("result").toString().toStdString();
    out.Step = line.value("step").toString().toStdString();
    out.ErrorText = line.value("error").toString().toStdString();
    if (line.value("code").isDouble())
        out.Code = line.value("code").toInt();
    out.FuseBlown = line.value("fuse").toInt(-1);
    // Recorded before the worker lets go of the port (and a passed unit
    // leaves the socket): then it may go on.
    SettleSocket(index);
    socket.Worker->write("settled\n");
}

// The socket's outcome into its rows, once: from the worker's result, or,
// without one, as for a killed station.
void CGang::SettleSocket(size_t index)
{
    CSocket& socket = *Sockets[index];
    if (socket.Settled)
        return;
    socket.Settled = true;
    const QProcess& worker = *socket.Worker;
    if (socket.HaveResult && socket.Outcome.Result == "passed") {
        EndSocket(socket, nullptr);
    } else {
        CAttemptEnd end;
        end.SerialWritten = socket.Sent;
        std::string text;
        if (socket.HaveResult) {
            end.Step = QString::fromStdString(socket.Outcome.Step);
            end.ErrorCode = socket.Outcome.Code;
            text = socket.Outcome.ErrorText;
        } else {
            end.Step = "Worker";
            const QString port = QString::fromStdString(socket.Port);
            if (socket.Silent)
                text = QStringLiteral("The worker of socket %1 said nothing for %2 s and was stopped.")
                           .arg(port)
                           .arg(SilenceLimitMs / 1000.0)
                           .toStdString();
            else if (worker.error() == QProcess::FailedToStart)
                text = QStringLiteral("The worker of socket %1 could not be started:\n%2\n%3")
                           .arg(port, worker.program(), worker.errorString())
                           .toStdString();
            else
                text = QStringLiteral("The worker of socket %1 ended without a result (%2).")
                           .arg(port, worker.exitStatus() == QProcess::CrashExit
                                          ? QStringLiteral("it crashed or was killed")
                                          : QStringLiteral("exit status %1").arg(worker.exitCode()))
                           .toStdString();
            socket.Message = text;
        }
        socket.Outcome.ErrorText = text;
        EndSocket(socket, &end);
    }
    View.SocketFinished(index, socket.Outcome, socket.Outcome.Result == "passed" ? std::string() : socket.Message);
}

// The worker has ended (its port is free): the run is over once every one has.
void CGang::Finish(size_t index)
{
    CSocket& socket = *Sockets[index];
    if (socket.Done || !socket.Begun)
        return;
    ReadWorker(index);
    socket.Done = true;
    if (socket.Silence)
        socket.Silence->stop();
    SettleSocket(index);
    if (--Unfinished == 0)
        Settle();
}

// Completes the socket's rows through the station, as its own attempt.
void CGang::EndSocket(CSocket& socket, const CAttemptEnd* failure)
{
    Station.CommPort = socket.Port;
    Station.RecordId = socket.RecordId;
    Station.LineAttempt = socket.LineAttempt;
    Station.Outcome = socket.Outcome;
    if (failure)
        Station.EndFailure(*failure, socket.Outcome.ErrorText);
    else
        Station.PassRecord(socket.Outcome.FuseBlown);
    socket.RecordId.clear();
    socket.LineAttempt.reset();
    const bool numbered = Kind == "batch" && Station.SerialType != 0;
    Station.Outcome.SerialSent = numbered && (failure ? failure->SerialWritten.value_or(false) : true);
    socket.Outcome = Station.Outcome;
}

// Every socket has finished: the store's next number and the count.
void CGang::Settle()
{
    if (Kind == "batch" && Station.SerialType != 0) {
        int32_t passed = 0;
        uint32_t next = FirstNumber;
        for (const auto& socket : Sockets) {
            passed += socket->Outcome.Result == "passed";
            if (Numbered && socket->Outcome.SerialSent && socket->Outcome.SerialNumber)
                next = std::max(next, *socket->Outcome.SerialNumber + 1);
        }
        if (Numbered) {
            Station.SerialNumber = next;
            if (Station.SettingsLoaded && !Station.StoreNextNumber(next))
                Station.View.Tell("Serial number " + std::to_string(next) +
                                  " could not be stored as the next one: the numbers after the run stay unused."
                                  "\nThe settings cannot be written to\n" + Station.OpenSettingsStore().Location());
        }
        // The counter wraps at the 32-bit limits, as a single batch's does.
        const uint32_t step = Station.CountUp == 1 ? 1u : 0xFFFFFFFFu;
        Station.Count = static_cast<int32_t>(static_cast<uint32_t>(Station.Count) + step * static_cast<uint32_t>(passed));
        if (passed > 0)
            Station.CommitCount();
        Station.Keep(RunSetup);
    }
    View.AllFinished();
}

void CGang::Wait(const std::atomic<bool>* stop)
{
    QEventLoop loop;
    QTimer poll;
    bool stopping = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!Running())
            loop.quit();
        else if (stop && *stop && !stopping)
            Stop(), stopping = true;
    });
    poll.start(5);
    if (Running())
        loop.exec();
}

void CGang::Stop()
{
    for (const auto& socket : Sockets)
        if (socket->Worker && socket->Worker->state() != QProcess::NotRunning)
            socket->Worker->terminate();
}
