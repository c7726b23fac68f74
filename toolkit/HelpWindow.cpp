#include "HelpWindow.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QVBoxLayout>

std::string ProgramHelpFilePath()
{
    const QFileInfo program(QCoreApplication::applicationFilePath());
    return (program.absolutePath() + QLatin1Char('/') + program.completeBaseName() +
            QStringLiteral(".HLP"))
        .toStdString();
}

bool ShowHelpWindow(QWidget* owner, const std::string& path, QSize size)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString html = QString::fromUtf8(file.readAll());
    auto* help = owner->findChild<QDialog*>(QStringLiteral("corvHelpWindow"));
    if (!help) {
        help = new QDialog(owner, Qt::Window);
        help->setObjectName(QStringLiteral("corvHelpWindow"));
        help->setWindowTitle(QCoreApplication::applicationName() + QStringLiteral(" Help"));
        auto* layout = new QVBoxLayout(help);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* browser = new QTextBrowser(help);
        browser->setOpenExternalLinks(false);
        layout->addWidget(browser);
        help->resize(size);
    }
    help->findChild<QTextBrowser*>()->setHtml(html);
    help->show();
    help->raise();
    return true;
}
