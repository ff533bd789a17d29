// Application: the agent's singleton. Waits until a user is logged in on the
// console, finds the HID system, creates the settings store, registers for
// everything the agent reacts to (quit request, user switch, the
// application's "PrefsChange", the mouse of either generation coming and
// going), schedules the delayed settings push and runs the event loop.
#pragma once

#include "IoStatus.h"
#include "ServiceRegistry.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>

class Preferences;
class QTimer;

class Application {
public:
    // The singleton, created on the first call; main thread only.
    static Application* GetApp();
    virtual ~Application() = default;

    // Whether a user is logged in on the console; refreshes fUserName and fUserId.
    bool IsLoggedIn();
    // Start-up and the event loop; returns the exit status when the loop ends.
    int Run();
    // Creates the store and registers all notifications.
    void Init();
    // Registers for the messages of the driver instance in use, once per
    // instance: a second registration would deliver every message twice.
    void RegisterForDeviceNotif();
    // Forgets the registrations of instances that are gone.
    void ForgetGoneInstances();
    // Makes an instance the one in use (empty: none).
    void SetSablecoil(const ServiceHandle& service);
    // Removes the "PrefsChange" observer and deletes the store.
    void Terminate();

    static void PrintIOErrMsg(IoStatus status, const char* message);
    static void PrintMsg(const char* text);

    ServiceHandle fSablecoil;  // driver instance in use, empty when none
    ServiceHandle fHidSystem;  // the HID system, found at start
    std::string fUserName;     // console user
    std::uint32_t fUserId = 0; // console user's id
    std::unique_ptr<Preferences> fPreferences;
    bool fNotifyPort = false;            // the registry's notifications can be delivered
    std::set<ServiceHandle> fRegistered; // instances whose messages reach the agent
    bool fHasPrefs = false;              // the settings domain held values at start

private:
    Application() = default;
    // The part of Run that follows the login wait.
    void StartUp();

    int fPrefsObserver = -1;
    QTimer* fLoginTimer = nullptr;
};

// The delayed settings push, 15 seconds after start.
void ResendPrefs(Application* app);
