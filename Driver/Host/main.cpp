// orvix-sablecoil-driver: the driver host. Publishes one report filter per
// attached mouse on the system bus and runs until SIGTERM or SIGINT.
#include "DeviceIds.h"
#include "DeviceSource.h"
#include "DriverHost.h"
#include "QuitRequest.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvix-sablecoil-driver"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(
        kDriverModuleVersion.data(), static_cast<qsizetype>(kDriverModuleVersion.size())));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Driver host for the Orvix Sablecoil: filters the mouse's reports and publishes "
        "each mouse on the system bus as com.orvix.driver.OrvixSablecoilDriver."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "orvix-sablecoil-driver: cannot connect to the system bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }

    std::unique_ptr<DeviceSource> source = DeviceSource::create();
    DriverHost host(bus, *source);
    const Status quit = QuitRequest::install([&host] {
        host.stop();
        QCoreApplication::quit();
    });
    if (!quit) {
        std::fprintf(stderr, "orvix-sablecoil-driver: %s\n", quit.message().c_str());
        return 1;
    }
    const Status started = host.start();
    if (!started) {
        std::fprintf(stderr, "orvix-sablecoil-driver: %s\n", started.message().c_str());
        return 1;
    }
    const int result = QCoreApplication::exec();
    host.stop();
    return result;
}
