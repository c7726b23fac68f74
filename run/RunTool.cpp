#include "RunTool.h"

#include "Gang.h"
#include "Station.h"
#include "VccText.h"

#include "DecimalText.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>
#include <vector>
#include <string>

namespace {

constexpr const char* Usage =
    "usage: corvantis-run [--settings FILE] [--port P] [--baud B] [--device NAME] [--vcc V]\n"
    "                     [--firmware FILE] [--serial-type none|byte|word|dword] [--serial-address HEX]\n"
    "                     [--erase-info|--no-erase-info] [--blow-fuse|--no-blow-fuse]\n"
    "                     [--units N] [--check-fuse] [--json] [--ports P1,P2,...]\n";

// What the command line asked for; unset members come from the settings.
struct CRunOptions {
    QString Settings;
    std::optional<std::string> Port, Device, Firmware, SerialAddress;
    std::optional<int32_t> Baud, SerialType, EraseInfo, BlowFuse;
    std::optional<double> Vcc;
    std::vector<std::string> Ports;  // a gang: one socket per port
    uint32_t Units = 1;
    bool CheckFuse = false;
    bool Json = false;
};

// The face of the station core on standard output: plain lines for a
// person, or one JSON object a line for every event, flushed at once.
class CRunView : public CStationView, public CTextWindow, public CProgressWindow {
public:
    CRunView(std::FILE* out, std::FILE* err, bool json) : Out(out), Err(err), Json(json) {}

    uint32_t Unit = 0;          // 1-based unit of the run (Run All of a gang)
    std::string Port;           // a gang's socket the events are of; empty: none
    std::string LastMessage;    // the last text the station told

    void AttemptStarted() override {}
    void AttemptPassed() override {}
    void AttemptFailed() override {}
    void Tell(const std::string& text) override
    {
        LastMessage = text;
        if (Json)
            Emit({{"message", QString::fromStdString(text)}});
        else
            std::fprintf(Err, "%s\n", text.c_str());
    }
    void SetWindowText(const std::string& text) override
    {
        if (Json)
            Emit({{"status", QString::fromStdString(text)}});
    }
    void SetRange32(int32_t low, int32_t high) override
    {
        if (Json)
            Emit({{"range", QJsonArray{low, high}}});
    }
    int32_t SetPos(int32_t pos) override
    {
        const int32_t previous = Pos;
        Pos = pos;
        if (Json)
            Emit({{"bar", pos}});
        return previous;
    }
    void Result(const CUnitResult& result);

private:
    void Emit(QJsonObject object)
    {
        object.insert(QStringLiteral("unit"), static_cast<qint64>(Unit));
        if (!Port.empty())
            object.insert(QStringLiteral("port"), QString::fromStdString(Port));
        std::fprintf(Out, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
        std::fflush(Out);
    }

    std::FILE* Out;
    std::FILE* Err;
    bool Json;
    int32_t Pos = 0;
};

void CRunView::Result(const CUnitResult& r)
{
    const std::string error = r.ErrorText.empty() && r.Result != "passed" ? LastMessage : r.ErrorText;
    if (Json) {
        QJsonObject object{{"result", QString::fromStdString(r.Result)},
                           {"step", QString::fromStdString(r.Step)},
                           {"error", QString::fromStdString(error)}};
        object.insert("serial", r.SerialNumber ? QJsonValue(static_cast<qint64>(*r.SerialNumber)) : QJsonValue());
        object.insert("code", r.Code ? QJsonValue(*r.Code) : QJsonValue());
        if (r.FuseBlown >= 0)
            object.insert("fuse", r.FuseBlown ? "blown" : "not blown");
        Emit(object);
        return;
    }
    std::string line = "unit " + std::to_string(Unit) + (Port.empty() ? "" : " on " + Port) + ": " + r.Result;
    if (r.SerialNumber)
        line += ", serial number " + std::to_string(*r.SerialNumber);
    if (r.FuseBlown >= 0)
        line += r.FuseBlown ? ", fuse blown" : ", fuse NOT blown";
    if (!r.Step.empty())
        line += " at " + r.Step;
    if (r.Code)
        line += " (code " + std::to_string(*r.Code) + ")";
    if (r.Result != "passed" && !error.empty())
        line += ": " + QString::fromStdString(error).replace('\n', ' ').toStdString();
    std::fprintf(Out, "%s\n", line.c_str());
    std::fflush(Out);
}

// The value of an option that takes one (--name VALUE or --name=VALUE).
bool TakeValue(const QStringList& args, int& i, const QString& name, QString& value)
{
    const QString& arg = args[i];
    if (arg == name && i + 1 < args.size()) {
        value = args[++i];
        return true;
    }
    if (arg.startsWith(name + '=')) {
        value = arg.mid(name.size() + 1);
        return true;
    }
    return false;
}

// One option with a value into options; false with the reason when the
// value is bad.
bool ReadValue(const QString& name, const QString& value, CRunOptions& o, std::string& problem)
{
    const std::string text = value.toStdString();
    if (name == "--settings") {
        o.Settings = value;
    } else if (name == "--port") {
        o.Port = text;
    } else if (name == "--device") {
        o.Device = text;
    } else if (name == "--firmware") {
        o.Firmware = QFileInfo(value).absoluteFilePath().toStdString();
    } else if (name == "--ports") {
        o.Ports.clear();
        for (const QString& port : value.split(','))
            if (!port.trimmed().isEmpty())
                o.Ports.push_back(port.trimmed().toStdString());
        if (o.Ports.empty() || o.Ports.size() > 8)
            return problem = "--ports takes one to eight port texts separated by commas, not \"" + text + "\"", false;
    } else if (name == "--serial-address") {
        o.SerialAddress = text;
    } else if (name == "--baud") {
        const auto baud = ParseUnsignedDecimal(text);
        if (!baud || *baud == 0 || *baud > INT32_MAX)
            return problem = "--baud takes a positive number of bits per second, not \"" + text + "\"", false;
        o.Baud = static_cast<int32_t>(*baud);
    } else if (name == "--vcc") {
        if (text.empty() || !IsAcceptableVccText(text))
            return problem = "--vcc takes a supply voltage in volts (e.g. 3.3), not \"" + text + "\"", false;
        o.Vcc = ParseVccText(text);
    } else if (name == "--serial-type") {
        const int type = QStringList{"none", "byte", "word", "dword"}.indexOf(value.toLower());
        if (type < 0)
            return problem = "--serial-type takes none, byte, word or dword, not \"" + text + "\"", false;
        o.SerialType = type;
    } else {  // --units
        const auto units = ParseUnsignedDecimal(text);
        if (!units || *units == 0)
            return problem = "--units takes a number of units from 1, not \"" + text + "\"", false;
        o.Units = *units;
    }
    return true;
}

bool ParseOptions(const QStringList& args, CRunOptions& o, std::string& problem)
{
    static const QStringList valued{"--settings", "--port",       "--baud",           "--device", "--vcc",
                                    "--firmware", "--serial-type", "--serial-address", "--units", "--ports"};
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const auto flag = [&](const char* on, const char* off, std::optional<int32_t>& field) {
            if (arg == on || arg == off)
                field = arg == on ? 1 : 0;
            return arg == on || arg == off;
        };
        if (flag("--erase-info", "--no-erase-info", o.EraseInfo) || flag("--blow-fuse", "--no-blow-fuse", o.BlowFuse))
            continue;
        if (arg == "--check-fuse" || arg == "--json") {
            (arg == "--json" ? o.Json : o.CheckFuse) = true;
            continue;
        }
        QString value;
        const auto name = std::find_if(valued.begin(), valued.end(),
                                       [&](const QString& n) { return TakeValue(args, i, n, value); });
        if (name == valued.end())
            return problem = "unknown option or missing value: " + arg.toStdString(), false;
        if (!ReadValue(*name, value, o, problem))
            return false;
    }
    return true;
}

void ApplyOptions(const CRunOptions& o, CStationSetup& s)
{
    s.CommPort = o.Port.value_or(s.CommPort);
    s.Baud = o.Baud.value_or(s.Baud);
    s.DeviceName = o.Device.value_or(s.DeviceName);
    s.Vcc = o.Vcc.value_or(s.Vcc);
    s.FileName = o.Firmware.value_or(s.FileName);
    s.SerialType = o.SerialType.value_or(s.SerialType);
    s.SerialAddress = o.SerialAddress.value_or(s.SerialAddress);
    s.EraseFlash = o.EraseInfo.value_or(s.EraseFlash);
    s.BlowFuse = o.BlowFuse.value_or(s.BlowFuse);
}

// Everything before the first unit: settings, lock, record, line. false
// with the refusal told.
bool PrepareStation(const CRunOptions& o, CStation& station, CStationSetup& setup, std::FILE* err)
{
    const auto refuse = [err](const std::string& text) {
        std::fprintf(err, "corvantis-run: %s\n", text.c_str());
        return false;
    };
    if (!o.Settings.isEmpty()) {
        // A mistyped name must not start the numbering again from 0.
        if (!QFileInfo::exists(o.Settings))
            return refuse("no settings file " + o.Settings.toStdString());
        station.SetSettingsFile(o.Settings.toStdString());
    }
    std::string message;
    if (!station.TakeLock(message))
        return refuse(message);
    if (message = station.SettingsProblem(); !message.empty())
        return refuse(message);
    const CSettingsStore store = station.OpenSettingsStore();
    // Refused as the window's Vcc field refuses it, unless --vcc replaces it.
    if (message = StoredVccProblem(store); !message.empty() && !o.Vcc)
        return refuse(message);
    if (!station.Load(store, message))
        return refuse(message);
    // In production mode the recipe holds the setup: an option that would
    // change it is refused, not quietly overridden.
    if (station.Recipe()) {
        const std::pair<bool, const char*> changes[] = {
            {o.Device.has_value(), "--device"},        {o.Vcc.has_value(), "--vcc"},
            {o.Firmware.has_value(), "--firmware"},    {o.SerialType.has_value(), "--serial-type"},
            {o.SerialAddress.has_value(), "--serial-address"},
            {o.EraseInfo.has_value(), o.EraseInfo.value_or(0) ? "--erase-info" : "--no-erase-info"},
            {o.BlowFuse.has_value(), o.BlowFuse.value_or(0) ? "--blow-fuse" : "--no-blow-fuse"}};
        for (const auto& [given, name] : changes)
            if (given)
                return refuse(std::string(name) + " cannot be used: this station runs in production mode with " +
                              station.RecipeDescription() + ", which holds the setup");
    }
    setup = LoadStationSetup(store);
    ApplyOptions(o, setup);
    station.ApplyRecipe(setup);
    setup.DeviceNumber = FindDeviceNumber(setup.DeviceName);
    return true;
}

// A gang's events on the run's output, each with its socket's port.
class CGangRunView : public CGangView {
public:
    CGangRunView(CRunView& view, const std::vector<std::string>& ports) : View(view), Ports(ports) {}
    void SocketStarted(size_t, std::optional<uint32_t>) override {}
    void SocketStatus(size_t socket, const std::string& text) override { On(socket).SetWindowText(text); }
    void SocketRange(size_t socket, int32_t low, int32_t high) override { On(socket).SetRange32(low, high); }
    void SocketBar(size_t socket, int32_t pos) override { On(socket).SetPos(pos); }
    void SocketFinished(size_t socket, const CUnitResult& result, const std::string& message) override
    {
        On(socket).LastMessage = message;
        View.Result(result);
        View.Port.clear();
    }
    void AllFinished() override {}

private:
    CRunView& On(size_t socket)
    {
        View.Port = Ports[socket];
        return View;
    }
    CRunView& View;
    const std::vector<std::string>& Ports;
};

// --ports: each unit of the run is a Run All on every port; a socket that
// fails lets the others finish, then the run ends.
int RunGang(const CRunOptions& o, CStation& station, CStationSetup& setup, CRunView& view, std::atomic<bool>& stop)
{
    CGangRunView gangView(view, o.Ports);
    CGang gang(station, gangView);
    bool touched = false;
    for (uint32_t unit = 1; unit <= o.Units && !stop; ++unit) {
        view.Unit = unit;
        view.Port.clear();
        if (!(o.CheckFuse ? gang.CheckFuse(setup, o.Ports) : gang.RunAll(setup, o.Ports)))
            return touched ? RunUnitFailed : RunRefused;
        gang.Wait(&stop);
        setup.SerialNumber = gang.Setup().SerialNumber;
        setup.Count = gang.Setup().Count;
        bool failed = false;
        for (const CUnitResult& r : gang.Results()) {
            touched = touched || r.Touched;
            failed = failed || r.Result != "passed";
        }
        if (failed && !stop)
            return touched ? RunUnitFailed : RunRefused;
    }
    return stop ? RunInterrupted : RunPassed;
}

}  // namespace

int RunStationCommand(const QStringList& arguments, std::atomic<bool>& stop, std::FILE* out, std::FILE* err)
{
    CRunOptions options;
    std::string problem;
    if (!ParseOptions(arguments, options, problem)) {
        std::fprintf(err, "corvantis-run: %s\n%s", problem.c_str(), Usage);
        return RunRefused;
    }
    CRunView view(out, err, options.Json);
    CStation station(view, &view, &view);
    station.SetStopFlag(&stop);
    CStationSetup setup;
    if (!PrepareStation(options, station, setup, err))
        return RunRefused;
    if (!options.Ports.empty())
        return RunGang(options, station, setup, view, stop);
    if (!options.Ports.empty())
        return RunGang(options, station, setup, view, stop);
    bool touched = false;
    for (uint32_t unit = 1; unit <= options.Units && !stop; ++unit) {
        view.Unit = unit;
        view.LastMessage.clear();
        if (int64_t next = -1; setup.SerialType != 0 && station.LineNextNumber(next) && next >= 0)
            setup.SerialNumber = static_cast<uint32_t>(next);
        const CUnitResult result = options.CheckFuse ? station.CheckFuse(setup) : station.RunBatch(setup);
        view.Result(result);
        touched = touched || result.Touched;
        if (result.Result != "passed" && !stop)
            return touched ? RunUnitFailed : RunRefused;
    }
    return stop ? RunInterrupted : RunPassed;
}
