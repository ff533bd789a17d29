// Application: the agent's start-up, registrations and event loop.
#include "Application.h"

#include "CallBacks.h"
#include "ConsoleSession.h"
#include "DeviceIds.h"
#include "HidUtils.h"
#include "NotificationCenter.h"
#include "PlatformServices.h"
#include "Preferences.h"
#include "QuitRequest.h"
#include "SettingsDomain.h"
#include "UsbAccess.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

Application* sApp = nullptr;

// The delayed push: 15 seconds after start-up.
constexpr int kResendDelayMs = 15000;
// How often the login is polled, and the pause after it is seen.
constexpr int kLoginPollMs = 1000;

} // namespace

Application* Application::GetApp() {
    if (!sApp) {
        sApp = new Application();
    }
    return sApp;
}

bool Application::IsLoggedIn() {
    std::optional<SessionInfo> session = PlatformServices::current().session().copySessionInfo();
    if (!session) {
        PrintMsg("Unable to get session dictionary.");
        return false;
    }
    if (!session->loginDone) {
        return false;
    }
    fUserName = session->userName;
    fUserId = session->userId;
    return session->onConsole;
}

// The login wait polls once a second on the event loop rather than sleeping,
// so that a quit request is served while nobody is logged in.
int Application::Run() {
    if (Status quit = QuitRequest::install([] { HandleAEQuit(); }); !quit) {
        std::fprintf(stderr, "Sablecoil: %s\n", quit.message().c_str());
        PrintIOErrMsg(kIoError, "Error registering for Quit apple event.");
    }
    fLoginTimer = new QTimer(QCoreApplication::instance());
    fLoginTimer->setInterval(kLoginPollMs);
    QObject::connect(fLoginTimer, &QTimer::timeout, [this] {
        if (IsLoggedIn()) {
            fLoginTimer->stop();
            QTimer::singleShot(kLoginPollMs, [this] { StartUp(); });
        }
    });
    if (IsLoggedIn()) {
        QTimer::singleShot(kLoginPollMs, [this] { StartUp(); });
    } else {
        fLoginTimer->start();
    }
    const int status = QCoreApplication::exec();
    Terminate();
    return status;
}

void Application::StartUp() {
    fHidSystem = FindHidSystem();
    if (fHidSystem.empty()) {
        QCoreApplication::exit(0);
        return;
    }
    fHasPrefs = Preferences::HasPrefs();
    Init();
    QTimer::singleShot(kResendDelayMs, [this] { ResendPrefs(this); });
}

void Application::Init() {
    fPreferences = std::make_unique<Preferences>();
    PlatformServices& platform = PlatformServices::current();
    fNotifyPort = true;

    platform.session().setBecameActiveHandler([] { SwitchEventsHandler(); });
    fPrefsObserver = platform.notifications().addObserver(
        kNotificationName, kPrefsChange,
        [](const std::string&, const std::string&, const PlistValue& userInfo) {
            PrefNotifProc(userInfo);
        });

    for (std::uint16_t product : {kSablecoilV1ProductId, kSablecoilV2ProductId}) {
        auto present = platform.usb().addMatchingNotification(
            kSablecoilVendorId, product,
            [](const std::vector<UsbDevice>& devices) { DeviceAddedNotifProc(devices); });
        if (!present) {
            std::fprintf(stderr, "Sablecoil: %s\n", present.message().c_str());
            PrintIOErrMsg(kIoError, "Error registering matching notif proc.");
        } else {
            DeviceAddedNotifProc(present.value());
        }
        Status removed = platform.usb().addTerminationNotification(
            kSablecoilVendorId, product,
            [](const std::vector<UsbDevice>& devices) { DeviceRemovedNotifProc(devices); });
        if (!removed) {
            std::fprintf(stderr, "Sablecoil: %s\n", removed.message().c_str());
            PrintIOErrMsg(kIoError, "Error registering terminating notif proc.");
        }
        DeviceRemovedNotifProc({});
    }
}

void Application::RegisterForDeviceNotif() {
    if (!fNotifyPort) {
        PrintMsg("Unable to register driver notif proc because fNotifyPort is NULL");
        return;
    }
    if (fSablecoil.empty()) {
        PrintMsg("Unable to register driver notif proc because fSablecoil is NULL");
        return;
    }
    if (fRegistered.count(fSablecoil)) {
        return;
    }
    const IoStatus status = PlatformServices::current().registry().addInterestNotification(
        fSablecoil,
        [](const ServiceHandle& service, std::uint32_t type) { DriverNotifProc(service, type); });
    PrintIOErrMsg(status, "Error registering driver notif proc.");
    if (status == kIoSuccess) {
        fRegistered.insert(fSablecoil);
    }
}

// A registration ends with its instance; an instance path may come back
// later (a restarted driver host numbers its instances anew).
void Application::ForgetGoneInstances() {
    std::vector<ServiceHandle> present;
    if (FindDevices(present) != kIoSuccess) {
        return;
    }
    std::erase_if(fRegistered, [&](const ServiceHandle& service) {
        return std::find(present.begin(), present.end(), service) == present.end();
    });
}

void Application::SetSablecoil(const ServiceHandle& service) {
    fSablecoil = service;
}

void Application::Terminate() {
    if (fPrefsObserver >= 0) {
        PlatformServices::current().notifications().removeObserver(fPrefsObserver);
        fPrefsObserver = -1;
    }
    fPreferences.reset();
}

void Application::PrintIOErrMsg(IoStatus status, const char* message) {
    printIoError(status, message);
}

void Application::PrintMsg(const char* text) {
    if (text) {
        std::fprintf(stdout, "%s\n", text);
        std::fflush(stdout);
    }
}

void ResendPrefs(Application* app) {
    if (!app->fPreferences) {
        return;
    }
    // The defaults are created only if the domain is still without profiles:
    // a domain created since start-up (by a device that came, or by the
    // application) may already hold the user's changes, which must survive.
    if (!app->fHasPrefs && !SettingsDomain(QString::fromStdString(Preferences::BundleId()))
                                .copyAll()
                                .contains("ProfileNumber")) {
        app->fPreferences->InitPrefs();
    }
    app->fPreferences->ReadPrefs();
}
