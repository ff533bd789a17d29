// SuiteHarness: runs the suite's programs as real processes for integration
// tests. One private dbus-daemon stands in for both the system and the
// session bus; sablecoil-sim and the driver host run against it with
// SABLECOIL_PLATFORM=virtual and a temporary XDG_CONFIG_HOME. Tests drive
// them from outside: the simulator's command line, busctl, and a D-Bus
// connection of the test process that records the driver host's signals.
//
// Typical use:
//   SuiteHarness suite;
//   ASSERT_TRUE(suite.start()) << suite.error();     // bus, simulator, driver host
//   const QString path = suite.plug(1);               // a mouse; its instance path
//   suite.setProperties(path, {"1", "Sensitivity", "i", "327680"});
//   suite.report(1, "00 00 00 00 06 00 00 00");
//   EXPECT_EQ(suite.delivered(1), QStringList{"00 03 00 00 03 00 00 00"});
//   EXPECT_EQ(suite.messages(path), QList<uint>{});
// Further programs (the agent, the application) start with startProgram().
#pragma once

#include "PrivateDBus.h"

#include <QDBusConnection>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>

class SuiteHarness {
public:
    static constexpr const char* kDriverService = "com.orvix.driver.OrvixSablecoilDriver";
    static constexpr const char* kDriverInterface = "com.orvix.driver.OrvixSablecoilDriver";
    static constexpr const char* kManagerPath = "/com/orvix/driver";
    static constexpr int kWaitMs = 10000; // the limit of every bounded wait

    struct CommandResult {
        int exitCode = -1; // -1: did not start or did not finish
        QString out;
        QString err;
        bool ok() const { return exitCode == 0; }
        // Standard output split into lines, without the last empty one.
        QStringList lines() const;
    };

    SuiteHarness();
    ~SuiteHarness(); // stops every program, then the bus
    SuiteHarness(const SuiteHarness&) = delete;
    SuiteHarness& operator=(const SuiteHarness&) = delete;

    // The bus, the simulator and the driver host; false with error() set.
    bool start();
    bool startBus();
    bool startSimulator();
    bool startDriverHost();
    const QString& error() const { return fError; }

    // Starts a program with the suite's environment and waits until it owns
    // serviceName on the bus (when given). The name is the program's handle.
    bool startProgram(const QString& name, const QString& program, const QStringList& args = {},
                      const QString& serviceName = QString());
    // The same, with the program's standard output and error kept in files
    // of the temporary folder, read with output() and errors().
    bool startCapturedProgram(const QString& name, const QString& program,
                              const QStringList& args = {});
    QString output(const QString& name) const;
    QString errors(const QString& name) const;
    // Whether a started program is still running.
    bool isRunning(const QString& name) const;
    // SIGTERM, then waits; returns the exit code (-1 if it crashed or hung).
    int stopProgram(const QString& name);

    const QString& busAddress() const { return fBus.address(); }
    QProcessEnvironment environment() const;
    QString tempPath(const QString& relative) const;
    // The test's own connection to the private bus.
    QDBusConnection connection() const { return fConnection; }

    // Runs a command to its end with the suite's environment.
    CommandResult run(const QString& program, const QStringList& args, int timeoutMs = 30000);
    CommandResult sim(const QStringList& args);
    CommandResult busctl(const QStringList& args); // --address is added

    // Plugs a virtual mouse (plug --generation G --wait extra...) and waits
    // for its driver instance; returns the instance path (empty on failure,
    // see error()). The mouse's id is in lastMouseId().
    QString plug(int generation, const QStringList& extra = {});
    uint lastMouseId() const { return fLastMouseId; }
    // Sends one report ("08 00 00 00 00 00 00 00") and then makes sure every
    // signal the host sent for it has been dispatched in this process.
    bool report(uint mouseId, const QString& bytes);
    QStringList delivered(uint mouseId, bool clear = false);
    QStringList commands(uint mouseId);
    // busctl call ... SetProperties a{sv} args...; returns busctl's result.
    CommandResult setProperties(const QString& path, const QStringList& dictionaryArgs);

    // The driver host's signals as this process received them.
    QList<uint> messages(const QString& path) const;
    void clearMessages();
    QStringList addedPaths() const;
    QStringList removedPaths() const;
    // The driver interface's properties that InterfacesAdded announced for path.
    QVariantMap addedProperties(const QString& path) const;
    // The interface names that InterfacesRemoved gave for path.
    QStringList removedInterfaces(const QString& path) const;
    // The instance paths in GetManagedObjects order, asked now.
    QStringList managedPaths();

    // Delivers every signal that reached this process before a round trip
    // to the bus daemon.
    void barrier();
    // Runs the event loop until condition holds, at most kWaitMs.
    static bool waitUntil(const std::function<bool()>& condition, int limitMs = kWaitMs);

private:
    bool waitForName(const QString& serviceName, const QString& programName);

    PrivateDBus fBus;
    std::unique_ptr<QTemporaryDir> fDir;
    QDBusConnection fConnection{QString()};
    std::unique_ptr<SignalRecorder> fMessages;
    std::unique_ptr<SignalRecorder> fAdded;
    std::unique_ptr<SignalRecorder> fRemoved;
    std::map<QString, std::unique_ptr<QProcess>> fPrograms;
    QString fError;
    uint fLastMouseId = 0;
};
