// The one main of the GUI test programs: one QApplication for the whole run,
// named as the station names itself, with the resources registered.
#include "Resources.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery and hand runs have no display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // CTest runs the tests of one program in parallel processes: each gets
    // its own settings folder inside the scratch one.
    const QString scratch = qEnvironmentVariable("XDG_CONFIG_HOME", QDir::tempPath());
    QDir().mkpath(scratch);
    QTemporaryDir config(scratch + QStringLiteral("/run-XXXXXX"));
    if (config.isValid())
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    // What the program's StartUp and its file name give it.
    QApplication::setApplicationName(QStringLiteral("Corvantis"));
    QApplication::setOrganizationName(QStringLiteral("Quillfern"));
    InitResources();
    return RUN_ALL_TESTS();
}
