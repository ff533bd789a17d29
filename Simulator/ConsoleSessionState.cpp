// ConsoleSessionState: the simulated console session's transitions.
#include "ConsoleSessionState.h"

#include <algorithm>

bool ConsoleSessionState::isValidUserName(const QString& userName) {
    return !userName.isEmpty() && std::none_of(userName.cbegin(), userName.cend(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control;
    });
}

Status ConsoleSessionState::login(const QString& userName, std::uint32_t userId) {
    if (!isValidUserName(userName)) {
        return Status::fail("\"" + userName.toStdString() +
                            "\" is not a user name (one word, no white space)");
    }
    fLoginDone = true;
    fOnConsole = true;
    fUserName = userName;
    fUserId = userId;
    return Status::success();
}

void ConsoleSessionState::logout() {
    fLoginDone = false;
    fOnConsole = false;
    fUserName.clear();
    fUserId = 0;
}

Status ConsoleSessionState::switchOut() {
    if (!fLoginDone) {
        return Status::fail("nobody is logged in");
    }
    fOnConsole = false;
    return Status::success();
}

Status ConsoleSessionState::switchIn() {
    if (!fLoginDone) {
        return Status::fail("nobody is logged in");
    }
    fOnConsole = true;
    return Status::success();
}

QString ConsoleSessionState::describe(bool loginDone, bool onConsole, const QString& userName,
                                      std::uint32_t userId) {
    if (!loginDone) {
        return QStringLiteral("logged-out");
    }
    return QStringLiteral("logged-in %1 %2 %3")
        .arg(userName)
        .arg(userId)
        .arg(onConsole ? QStringLiteral("on-console") : QStringLiteral("off-console"));
}
