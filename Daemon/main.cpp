// sablecoil-agent: the per-user agent. Wires the platform's services and
// runs the application until the quit request.
#include "Application.h"
#include "PlatformFactory.h"

#include <QApplication>

int main(int argc, char** argv) {
    // A GUI-capable event loop: the on-screen display is a window.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sablecoil-agent"));
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<PlatformServices> services =
        PlatformFactory::create(PlatformServices::selectedKind());
    PlatformServices::setCurrent(services.get());
    const int status = Application::GetApp()->Run();
    PlatformServices::setCurrent(nullptr);
    return status;
}
