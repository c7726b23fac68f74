// GUI tests need one QApplication for the whole run.
#include "resources/Resources.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery and hand runs have no display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // What the program's StartUp and its file name give it.
    QApplication::setApplicationName(QStringLiteral("Corvantis"));
    QApplication::setOrganizationName(QStringLiteral("Quillfern"));
    InitResources();
    return RUN_ALL_TESTS();
}
