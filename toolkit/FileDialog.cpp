#include "FileDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace {

FileOpenHandler& Handler()
{
    static FileOpenHandler handler;
    return handler;
}

}  // namespace

std::string ClassicFilterToQt(const std::string& filter)
{
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        if (description.isEmpty())
            break;  // the "||" end marker
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        patterns = patterns.simplified();
        if (description.endsWith(QLatin1Char(')')) && description.contains(QLatin1Char('(')))
            out << description;
        else
            out << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;")).toStdString();
}

bool FileOpenDialog(QWidget* owner, std::string& path, const std::string& filter, uint32_t flags)
{
    if (Handler())
        return Handler()(owner, path, filter, flags);
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((flags & (OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST)) ? QFileDialog::ExistingFile
                                                                         : QFileDialog::AnyFile);
    dialog.setNameFilter(QString::fromStdString(ClassicFilterToQt(filter)));
    if (!path.empty()) {
        const QFileInfo initial(QString::fromStdString(path));
        dialog.setDirectory(initial.absolutePath());
        dialog.selectFile(initial.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = QFileInfo(dialog.selectedFiles().first()).absoluteFilePath().toStdString();
    return true;
}

FileOpenHandler SetFileOpenHandler(FileOpenHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}
