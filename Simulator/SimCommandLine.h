// SimCommandLine: the sablecoil-sim program. "serve" runs the simulator's
// service until SIGTERM or SIGINT; every other command is a client of that
// service on the session bus and prints its answer in the fixed formats of
// docs/simulator.md. Exit status: 0 success, 1 failure, 2 usage error.
#pragma once

#include "Result.h"

#include <QByteArray>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantList>

#include <cstdint>

class SimCommandLine {
public:
    static constexpr int kExitFailure = 1;
    static constexpr int kExitUsage = 2;

    // arguments: the command and its arguments, without the program name.
    int run(const QStringList& arguments);

    // Parsing helpers, public for the tests.
    static Result<std::uint32_t> parseId(const QString& text);
    static Result<std::uint32_t> parseCount(const QString& text, const char* what);
    static Result<std::uint16_t> parseFirmware(const QString& text);
    // A user id: a decimal 32-bit unsigned integer.
    static Result<std::uint32_t> parseUserId(const QString& text);
    // Exactly kReportLength bytes, each one or two hex digits (an optional 0x prefix).
    static Result<QByteArray> parseReport(const QStringList& bytes);
    // Bytes as lower-case hex, separated by single spaces.
    static QString formatBytes(const QByteArray& bytes);

    static constexpr int kReportLength = 8;

private:
    int serve();
    int plug(const QStringList& args);
    int unplug(const QStringList& args);
    int list(const QStringList& args);
    int report(const QStringList& args);
    int delivered(const QStringList& args);
    int commands(const QStringList& args);
    int param(const QStringList& args);
    int open(const QStringList& args);
    int firmware(const QStringList& args);
    int session(const QStringList& args);
    int events(const QStringList& args);
    int help();

    // Calls a method of the simulator; the error says what went wrong.
    Result<QDBusMessage> call(const char* method, const QVariantList& args, int timeoutMs = -1);
    int usage(const QString& text);
    int fail(const QString& text);
};
