#include "RecipeCommand.h"

#include "Recipe.h"
#include "SetupCheck.h"
#include "Station.h"
#include "VccText.h"

#include "SerialNumber.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

const char* const RecipeUsage =
    "       corvantis-log BOOK recipe create NAME --firmware FILE --device NAME --vcc V [--erase-info]\n"
    "                     [--blow-fuse] [--serial-type none|byte|word|dword --serial-address HEX] [--pool P]\n"
    "       corvantis-log BOOK recipe show NAME [--version N]\n"
    "       corvantis-log BOOK recipe list\n"
    "       corvantis-log BOOK recipe retire NAME\n"
    "       corvantis-log BOOK recipe export NAME [--version N] --firmware-out FILE\n"
    "BOOK is --database ADMIN_CONNINFO or --line (the line database) or --folder DIR (a recipe folder).\n";

namespace {

int Bad(std::ostream& err, const QString& what)
{
    err << "corvantis-log: " << what.toStdString() << "\nusage:\n" << RecipeUsage;
    return 1;
}

// The book refused (the caller tells an unreachable line apart).
int Refused(std::ostream& err, const QString& text)
{
    err << "corvantis-log: " << text.toStdString() << "\n";
    return 1;
}

// The words after the verb: one NAME and --options (flags listed apart).
struct CRecipeArgs {
    QString Name;
    QMap<QString, QString> Values;
    QStringList Flags;
};

bool ReadArgs(const QStringList& args, const QStringList& valued, const QStringList& flags, CRecipeArgs& a,
              QString& problem)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString& w = args[i];
        if (flags.contains(w)) {
            a.Flags << w;
        } else if (valued.contains(w)) {
            if (i + 1 >= args.size())
                return problem = w + " needs a value", false;
            if (a.Values.contains(w))
                return problem = w + " is given twice", false;
            a.Values[w] = args[++i];
        } else if (!w.startsWith(QLatin1String("--")) && a.Name.isEmpty()) {
            a.Name = w;
        } else {
            return problem = QStringLiteral("recipe %1: unexpected \"%2\"").arg(args[0], w), false;
        }
    }
    if (a.Name.isEmpty() && args[0] != QLatin1String("list"))
        return problem = QStringLiteral("recipe %1 needs a NAME").arg(args[0]), false;
    if (const QString p = a.Name.isEmpty() ? QString() : RecipeNameProblem(a.Name); !p.isEmpty())
        return problem = p, false;
    return true;
}

bool ReadVersion(const CRecipeArgs& a, int& version, QString& problem)
{
    version = 0;
    if (!a.Values.contains("--version"))
        return true;
    bool ok = false;
    version = a.Values["--version"].toInt(&ok);
    if (!ok || version < 1)
        return problem = "--version \"" + a.Values["--version"] + "\" is no version number (1, 2, ...)", false;
    return true;
}

const char* const TypeNames[] = {"none", "byte", "word", "dword"};

// The setup a recipe gives a station, checked as the station checks it.
int Create(CRecipeBook& book, const CRecipeArgs& a, std::ostream& out, std::ostream& err)
{
    for (const char* needed : {"--firmware", "--device", "--vcc"})
        if (!a.Values.contains(needed))
            return Bad(err, QStringLiteral("recipe create needs %1").arg(needed));
    CRecipe r;
    r.Name = a.Name;
    r.Device = a.Values["--device"];
    const std::string vcc = a.Values["--vcc"].toStdString();
    if (vcc.empty() || !IsAcceptableVccText(vcc))
        return Bad(err, "--vcc takes a supply voltage in volts (e.g. 3.3), not \"" + a.Values["--vcc"] + "\"");
    r.Vcc = ParseVccText(vcc);
    r.EraseInfo = a.Flags.contains("--erase-info");
    r.BlowFuse = a.Flags.contains("--blow-fuse");
    r.Pool = a.Values.value("--pool");
    const QString type = a.Values.value("--serial-type", "none").toLower();
    r.SerialType = int32_t(std::find(std::begin(TypeNames), std::end(TypeNames), type.toStdString()) -
                           std::begin(TypeNames));
    if (r.SerialType > 3)
        return Bad(err, "--serial-type takes none, byte, word or dword, not \"" + a.Values["--serial-type"] + "\"");
    if ((r.SerialType != 0) != a.Values.contains("--serial-address"))
        return Bad(err, r.SerialType ? QStringLiteral("--serial-type %1 needs --serial-address HEX").arg(type)
                                     : QStringLiteral("--serial-address needs --serial-type byte, word or dword"));
    CSerialNumber serial;
    serial.Type = r.SerialType;
    if (r.SerialType) {
        serial.AddressText = a.Values["--serial-address"].toStdString();
        if (!serial.Convert())
            return Bad(err, "--serial-address \"" + a.Values["--serial-address"] + "\" is no hexadecimal address");
        r.SerialAddress = QString::fromStdString(serial.AddressText);
    }
    const QString path = a.Values["--firmware"];
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return Bad(err, "--firmware " + path + " is no readable file" +
                            (file.errorString().isEmpty() ? QString() : " (" + file.errorString() + ")"));
    r.Firmware = file.readAll();
    r.FirmwareName = QFileInfo(path).fileName();
    if (FindDeviceNumber(r.Device.toStdString()) < 0)
        return Bad(err, "--device \"" + r.Device + "\" names no device the programmer knows (device.cfg)");
    const CSetupRefusal refusal =
        CheckBatchSetup({"COM1", 57600, r.Device.toStdString(), QFileInfo(path).absoluteFilePath().toStdString(),
                         r.EraseInfo ? 1 : 0, r.BlowFuse ? 1 : 0, serial.Address, serial.ByteCount});
    if (refusal.Code != 0)
        return Refused(err, QStringLiteral("recipe %1 is refused: %2")
                                .arg(r.Name, QString::fromStdString(refusal.Message)));
    if (!book.Create(r))
        return Refused(err, book.ErrorText());
    out << "created recipe " << r.Title().toStdString() << ": " << r.FirmwareName.toStdString() << ", SHA-256 "
        << r.FirmwareSha256.toStdString() << "\n";
    return 0;
}

void Print(const CRecipe& r, const CRecipeBook& book, std::ostream& out)
{
    out << "recipe: " << r.Name.toStdString() << "\n"
        << "version: " << r.Version << "\n"
        << "state: " << (r.Retired ? "retired" : "in use") << "\n"
        << "device: " << r.Device.toStdString() << "\n"
        << "vcc: " << FormatVccText(r.Vcc) << "\n"
        << "firmware: " << r.FirmwareName.toStdString() << " (" << r.Firmware.size() << " bytes)\n"
        << "sha256: " << r.FirmwareSha256.toStdString() << "\n";
    if (Sha256Hex(r.Firmware) != r.FirmwareSha256)
        out << "image: CHANGED, SHA-256 now " << Sha256Hex(r.Firmware).toStdString()
            << (book.InLine() ? "" : " (" + book.FirmwarePath(r.Name, r.Version).toStdString() + ")") << "\n";
    out << "erase info: " << (r.EraseInfo ? "yes" : "no") << "\n"
        << "blow fuse: " << (r.BlowFuse ? "yes" : "no") << "\n"
        << "serial type: " << TypeNames[r.SerialType & 3] << "\n"
        << "serial address: " << (r.SerialType ? r.SerialAddress.toStdString() : std::string("none")) << "\n"
        << "pool: " << (r.Pool.isEmpty() ? std::string("none") : r.Pool.toStdString()) << "\n"
        << "created: " << r.CreatedAt.toStdString() << " by " << r.CreatedBy.toStdString() << "\n";
}

}  // namespace

int RunRecipeCommand(CRecipeBook& book, const QStringList& args, std::ostream& out, std::ostream& err)
{
    const QString verb = args.value(0);
    CRecipeArgs a;
    QString problem;
    if (verb == QLatin1String("create")) {
        if (!ReadArgs(args, {"--firmware", "--device", "--vcc", "--serial-type", "--serial-address", "--pool"},
                      {"--erase-info", "--blow-fuse"}, a, problem))
            return Bad(err, problem);
        return Create(book, a, out, err);
    }
    if (verb == QLatin1String("list")) {
        if (!ReadArgs(args, {}, {}, a, problem) || !a.Name.isEmpty())
            return Bad(err, problem.isEmpty() ? QStringLiteral("recipe list takes no NAME") : problem);
        QList<CRecipe> recipes;
        if (!book.List(recipes))
            return Refused(err, book.ErrorText());
        for (const CRecipe& r : recipes)
            out << r.Name.toStdString() << "\t" << r.Version << "\t" << (r.Retired ? "retired" : "in use") << "\t"
                << r.Device.toStdString() << "\t" << (r.Pool.isEmpty() ? "-" : r.Pool.toStdString()) << "\t"
                << r.FirmwareName.toStdString() << "\t" << r.FirmwareSha256.left(12).toStdString() << "\t"
                << r.CreatedAt.toStdString() << "\n";
        if (recipes.isEmpty())
            out << "no recipes\n";
        return 0;
    }
    if (verb == QLatin1String("retire")) {
        if (!ReadArgs(args, {}, {}, a, problem))
            return Bad(err, problem);
        if (!book.Retire(a.Name))
            return Refused(err, book.ErrorText());
        out << "retired recipe " << a.Name.toStdString() << ": no station loads it any more\n";
        return 0;
    }
    if (verb == QLatin1String("show") || verb == QLatin1String("export")) {
        const bool exporting = verb == QLatin1String("export");
        int version = 0;
        if (!ReadArgs(args, exporting ? QStringList{"--version", "--firmware-out"} : QStringList{"--version"}, {}, a,
                      problem) ||
            !ReadVersion(a, version, problem))
            return Bad(err, problem);
        if (exporting && !a.Values.contains("--firmware-out"))
            return Bad(err, "recipe export needs --firmware-out FILE");
        CRecipe r;
        bool found = false;
        if (!book.Load(a.Name, version, r, found))
            return Refused(err, book.ErrorText());
        if (!found)
            return Refused(err, version ? QStringLiteral("There is no version %1 of recipe %2").arg(version).arg(a.Name)
                                        : QStringLiteral("There is no recipe named %1").arg(a.Name));
        if (!exporting) {
            Print(r, book, out);
            return 0;
        }
        // Only the approved image leaves: one changed on disk is refused.
        if (const QString sha = Sha256Hex(r.Firmware); sha != r.FirmwareSha256)
            return Refused(err, QStringLiteral("The image of recipe %1 is not the approved one (approved SHA-256 %2, "
                                               "image %3): nothing written").arg(r.Title(), r.FirmwareSha256, sha));
        QSaveFile file(a.Values["--firmware-out"]);
        if (!file.open(QIODevice::WriteOnly) || file.write(r.Firmware) != r.Firmware.size() || !file.commit())
            return Refused(err, "Cannot write " + file.fileName() + ": " + file.errorString());
        out << "recipe " << r.Title().toStdString() << ": " << r.FirmwareName.toStdString() << " written to "
            << file.fileName().toStdString() << "\n";
        return 0;
    }
    return Bad(err, verb.isEmpty() ? QStringLiteral("recipe needs create, show, list, retire or export")
                                   : QStringLiteral("recipe: unknown command \"%1\"").arg(verb));
}
