// CStation in production mode: the recipe in force decides the device, the
// supply, the image and the erase, fuse and serial number choices of every
// command; the face's setup and the user's own settings cannot change them.
//
// The image a unit gets is the recipe's own bytes: checked against the
// recipe's SHA-256, written to a file only this account can read or write
// (mode 0600 in a 0700 folder, in $XDG_RUNTIME_DIR when it is private), and
// read back and checked again just before the number is reserved and the
// programmer is opened. A mismatch refuses the unit; nothing is touched.
#include "Station.h"
#include "StationGuards.h"

#include "LineStation.h"
#include "Recipe.h"
#include "SettingsText.h"

#include "SerialNumber.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

bool Present(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// Where the private folder goes: the user's runtime folder when it is the
// user's own and closed to others, else /tmp (mkdtemp makes it 0700).
std::string PrivateBase()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (!runtime.isEmpty() && ::stat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == ::geteuid() && (st.st_mode & 077) == 0)
        return runtime.toStdString();
    return "/tmp";
}

}  // namespace

void CStation::ApplyRecipe(CStationSetup& setup) const
{
    if (!ProductionRecipe)
        return;
    const CRecipe& r = *ProductionRecipe;
    setup.DeviceName = r.Device.toStdString();
    setup.Vcc = r.Vcc;
    setup.FileName = r.FirmwareName.toStdString();
    setup.EraseFlash = r.EraseInfo ? 1 : 0;
    setup.BlowFuse = r.BlowFuse ? 1 : 0;
    setup.SerialType = r.SerialType;
    if (!r.SerialAddress.isEmpty())
        setup.SerialAddress = r.SerialAddress.toStdString();
}

std::string CStation::RecipeDescription() const
{
    if (!ProductionRecipe)
        return {};
    return QStringLiteral("Recipe %1 (firmware %2)")
        .arg(ProductionRecipe->Title(), ProductionRecipe->FirmwareName)
        .toStdString();
}

bool CStation::LoadRecipe()
{
    ProductionRecipe.reset();
    RecipeProblem.clear();
    RecipeFirmwareFile.clear();
    RecipeUndecided = false;
    std::string conf = StationConfPath;
    if (!Present(conf))
        conf = !ConfPath.empty() && Present(ConfPath) ? ConfPath : std::string();
    if (!conf.empty()) {
        if (std::string problem = OperatorCanChange(conf, OperatorUid); !problem.empty()) {
            RecipeProblem = problem;
            return false;
        }
    }
    if (Line) {
        CRecipe recipe;
        bool found = false;
        if (!Line->PoolRecipe(recipe, found)) {
            // Decided at the first command the line answers; none runs before.
            RecipeUndecided = true;
            return true;
        }
        if (found)
            ProductionRecipe = std::make_unique<CRecipe>(std::move(recipe));
    }
    if (!ProductionRecipe && !conf.empty() && !LoadFolderRecipe(conf))
        return false;
    if (ProductionRecipe && SettingsLoaded && !RecordEnabled) {
        ProductionRecipe.reset();
        RecipeProblem = "[Record] Enabled=0 cannot be used in production mode:\n" + OpenSettingsStore().Location() +
                        "\nEvery unit made with a recipe is recorded. Turn the record on.";
        return false;
    }
    return true;
}

bool CStation::LoadFolderRecipe(const std::string& conf)
{
    const auto refuse = [this](const std::string& text) {
        RecipeProblem = text;
        return false;
    };
    QFile file(QString::fromStdString(conf));
    if (!file.open(QIODevice::ReadOnly))
        return refuse("The station's recipe file cannot be read:\n" + conf + "\n" + file.errorString().toStdString());
    const QByteArray text = file.readAll();
    const CSettingsValues values = ParseSettingsText(std::string_view(text.constData(), size_t(text.size())));
    const auto value = [&](const char* key) {
        const auto it = values.find(key);
        return it == values.end() ? QString() : QString::fromStdString(it->second).trimmed();
    };
    const QString folder = value("Recipes"), name = value("Recipe");
    if (folder.isEmpty() || name.isEmpty())
        return refuse(conf + " names no recipe: it needs Recipes=FOLDER and Recipe=NAME.\n"
                             "The station runs in production mode only.");
    CRecipeBook book(folder);
    for (const QString& path : {folder, folder + '/' + name})
        if (std::string problem = OperatorCanChange(path.toStdString(), OperatorUid); !problem.empty())
            return refuse(problem);
    CRecipe recipe;
    bool found = false;
    if (!book.Load(name, 0, recipe, found))
        return refuse(book.ErrorText().toStdString());
    if (!found)
        return refuse(QStringLiteral("There is no recipe %1 in %2 (named in %3)")
                          .arg(name, folder, QString::fromStdString(conf)).toStdString());
    if (recipe.Retired)
        return refuse(QStringLiteral("Recipe %1 is retired (%2): no station runs it. Name another recipe in %3")
                          .arg(name, book.RetiredPath(name), QString::fromStdString(conf)).toStdString());
    for (const QString& path : {book.RecipePath(name, recipe.Version), book.FirmwarePath(name, recipe.Version)})
        if (std::string problem = OperatorCanChange(path.toStdString(), OperatorUid); !problem.empty())
            return refuse(problem);
    RecipeFirmwareFile = book.FirmwarePath(name, recipe.Version);
    ProductionRecipe = std::make_unique<CRecipe>(std::move(recipe));
    return true;
}

bool CStation::EnterRecipe()
{
    if (RecipeUndecided && !LoadRecipe() && RecipeProblem.empty())
        RecipeProblem = "The recipe cannot be loaded.";
    std::string text = RecipeProblem;
    if (text.empty() && RecipeUndecided)
        text = Line->ErrorText().toStdString() + "\nThe station does not know whether pool \"" + LinePool() +
               "\" has a recipe: no unit is programmed until the line database answers.";
    if (!text.empty()) {
        Outcome.ErrorText = text;
        View.Tell(text);
        return false;
    }
    if (ProductionRecipe) {
        ApplyRecipe(*this);
        DeviceNumber = FindDeviceNumber(DeviceName);
    }
    return true;
}

std::string CStation::WritePrivateImage(const QByteArray& bytes)
{
    if (PrivateFolder.empty()) {
        std::string folder = PrivateBase() + "/corvantis-image-XXXXXX";
        if (!::mkdtemp(folder.data()))
            return "A private folder for the image cannot be made in " + PrivateBase() + ": " + std::strerror(errno);
        PrivateFolder = folder;
        const QString suffix = QFileInfo(ProductionRecipe->FirmwareName).suffix();
        PrivateImage = PrivateFolder + "/image" + (suffix.isEmpty() ? "" : "." + suffix.toStdString());
    }
    const int fd = ::open(PrivateImage.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return PrivateImage + ": " + std::strerror(errno);
    bool ok = ::fchmod(fd, 0600) == 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        ok = n > 0;
        done += n > 0 ? n : 0;
    }
    const std::string reason = ok ? std::string() : std::strerror(errno);
    ::close(fd);
    return ok ? std::string() : PrivateImage + ": " + reason;
}

bool CStation::PrepareImage(const CSerialNumber& record)
{
    const CRecipe& r = *ProductionRecipe;
    const auto mismatch = [&](const QString& found, const QString& where) {
        return RefuseUnit(record, QStringLiteral("Batch not started: the firmware image is not the one recipe %1 "
                                                  "approved, and no unit was touched.\nApproved SHA-256: %2\n"
                                                  "Image SHA-256:    %3\n(%4)")
                                       .arg(r.Title(), r.FirmwareSha256, found, where)
                                       .toStdString());
    };
    QByteArray bytes = r.Firmware;
    QString source = QStringLiteral("the image of the line database");
    if (!RecipeFirmwareFile.isEmpty()) {
        QFile file(RecipeFirmwareFile);
        if (!file.open(QIODevice::ReadOnly))
            return RefuseUnit(record, "Batch not started: the recipe's image cannot be read:\n" +
                                           RecipeFirmwareFile.toStdString() + "\n" +
                                           file.errorString().toStdString());
        bytes = file.readAll();
        source = RecipeFirmwareFile;
    }
    if (const QString sha = Sha256Hex(bytes); sha != r.FirmwareSha256)
        return mismatch(sha, source);
    if (const std::string problem = WritePrivateImage(bytes); !problem.empty())
        return RefuseUnit(record, "Batch not started: the image cannot be written for programming:\n" + problem);
    FileName = PrivateImage;
    return true;
}

// The private file read back as the programmer will read it, after the
// setup check and just before the number and the programmer.
bool CStation::CheckPrivateImage(const CSerialNumber& record)
{
    const CRecipe& r = *ProductionRecipe;
    QFile written(QString::fromStdString(PrivateImage));
    const QByteArray back = written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
    if (const QString sha = Sha256Hex(back); sha != r.FirmwareSha256)
        return RefuseUnit(record, QStringLiteral("Batch not started: the image written for programming is not "
                                                  "the one recipe %1 approved, and no unit was touched.\n"
                                                  "Approved SHA-256: %2\nImage SHA-256:    %3\n(%4)")
                                       .arg(r.Title(), r.FirmwareSha256, sha, written.fileName())
                                       .toStdString());
    return true;
}
