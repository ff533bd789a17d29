// ConsoleSessionState: the simulated console session. It starts logged out;
// a login puts a user on the console, a switch-out takes the session off the
// console (another user's session is in front) and a switch-in brings it
// back. The transitions check their preconditions; the caller sends the
// "became active again" signal when switchIn() succeeds.
#pragma once

#include "Result.h"

#include <QString>

#include <cstdint>

class ConsoleSessionState {
public:
    bool loginDone() const { return fLoginDone; }
    bool onConsole() const { return fOnConsole; }
    const QString& userName() const { return fUserName; }
    std::uint32_t userId() const { return fUserId; }

    // Logs a user in on the console; a login while logged in replaces the user.
    // The name must be a non-empty word (no white space or control characters).
    Status login(const QString& userName, std::uint32_t userId);
    // Logs the user out; logging out while logged out changes nothing.
    void logout();
    // The session leaves the console; fails while logged out.
    Status switchOut();
    // The session is on the console again; fails while logged out.
    Status switchIn();

    // One line: "logged-out", or "logged-in NAME UID on-console|off-console".
    QString describe() const { return describe(fLoginDone, fOnConsole, fUserName, fUserId); }
    static QString describe(bool loginDone, bool onConsole, const QString& userName,
                            std::uint32_t userId);

    static bool isValidUserName(const QString& userName);

private:
    bool fLoginDone = false;
    bool fOnConsole = false;
    QString fUserName;
    std::uint32_t fUserId = 0;
};
