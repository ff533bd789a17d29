// ConsoleSession: who is logged in on the console. The session dictionary
// (login done, on console, user name and id) and the event sent when the
// user's session becomes active again after a user switch. Virtual backend:
// the simulator's session. Real backend: systemd-logind.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct SessionInfo {
    bool loginDone = false;
    bool onConsole = false;
    std::string userName;
    std::uint32_t userId = 0;
};

class ConsoleSession {
public:
    virtual ~ConsoleSession() = default;

    // The current console session; nullopt when it cannot be read.
    virtual std::optional<SessionInfo> copySessionInfo() = 0;
    // handler runs on the main loop each time the session becomes active again.
    virtual void setBecameActiveHandler(std::function<void()> handler) = 0;
};
