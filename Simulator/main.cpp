// sablecoil-sim: the virtual platform's service and command-line client.
#include "SimCommandLine.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sablecoil-sim"));
    const int status = SimCommandLine().run(QCoreApplication::arguments().mid(1));
    std::fflush(stdout);
    return status;
}
