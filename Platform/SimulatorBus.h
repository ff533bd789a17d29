// SimulatorBus: the names under which sablecoil-sim serves on the session bus,
// and the error names of its methods. Shared by the simulator and by the
// virtual backends that talk to it (docs/simulator.md describes the interface).
#pragma once

#include <QDBusMessage>
#include <QString>

namespace SimulatorBus {

inline constexpr const char* kService = "com.orvix.SablecoilSim";
inline constexpr const char* kPath = "/com/orvix/SablecoilSim";
inline constexpr const char* kInterface = "com.orvix.SablecoilSim";

// Errors of the simulator's methods.
inline constexpr const char* kErrorUnknownMouse = "com.orvix.SablecoilSim.Error.UnknownMouse";
inline constexpr const char* kErrorInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr const char* kErrorTimeout = "com.orvix.SablecoilSim.Error.Timeout";
inline constexpr const char* kErrorHostGone = "com.orvix.SablecoilSim.Error.HostGone";
inline constexpr const char* kErrorUnknownParameter =
    "com.orvix.SablecoilSim.Error.UnknownParameter";
inline constexpr const char* kErrorNotLoggedIn = "com.orvix.SablecoilSim.Error.NotLoggedIn";

// A call of one of the simulator's methods.
inline QDBusMessage methodCall(const char* method) {
    return QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                          QString::fromLatin1(kInterface),
                                          QString::fromLatin1(method));
}

} // namespace SimulatorBus
