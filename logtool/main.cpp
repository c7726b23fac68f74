#include "LogTool.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return RunLogTool(args, std::cout, std::cerr);
}
