// The application object needs a QApplication whose name comes from the
// program file, as the station's own does: none is set here.
#include "resources/Resources.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // CTest runs the tests of this program in parallel processes: each gets
    // its own settings folder inside the scratch one.
    const QString scratch = qEnvironmentVariable("XDG_CONFIG_HOME", QDir::tempPath());
    QDir().mkpath(scratch);
    QTemporaryDir config(scratch + QStringLiteral("/run-XXXXXX"));
    if (config.isValid())
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    InitResources();
    return RUN_ALL_TESTS();
}
