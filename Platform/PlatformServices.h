// PlatformServices: the set of service backends one program uses. At start-up
// the platform layer picks one set for the whole program: the virtual one
// (the simulator) when SABLECOIL_PLATFORM is "virtual", the real one
// otherwise. The rest of the code asks current() and never knows which set
// it has. Tests install their own set with setCurrent().
#pragma once

class ServiceRegistry;
class HidSystem;
class UsbAccess;
class ConsoleSession;
class NotificationCenter;
class EventPoster;

class PlatformServices {
public:
    enum class Kind { Real, Virtual };

    virtual ~PlatformServices() = default;

    // The kind the environment asks for; only the platform layer reads it.
    static Kind selectedKind();
    // The program's services, created on first use for selectedKind().
    static PlatformServices& current();
    // Replaces the program's services (not owned); nullptr goes back to the default.
    static void setCurrent(PlatformServices* services);

    virtual ServiceRegistry& registry() = 0;
    virtual HidSystem& hidSystem() = 0;
    virtual UsbAccess& usb() = 0;
    virtual ConsoleSession& session() = 0;
    virtual NotificationCenter& notifications() = 0;
    virtual EventPoster& events() = 0;
};
