// SimCommandLine: the simulator's service and command-line client.
#include "SimCommandLine.h"

#include "ConsoleSessionState.h"
#include "HidParameters.h"
#include "IoStatus.h"
#include "QuitRequest.h"
#include "SimService.h"
#include "SimulatorBus.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusVariant>

#include <algorithm>
#include <cstdio>

namespace {

// How long the client waits for calls that the service answers late.
constexpr int sReportCallTimeoutMs = 15000;
constexpr int sWaitBoundMs = 5000;

void printLine(const QString& text) {
    std::fputs(qPrintable(text), stdout);
    std::fputc('\n', stdout);
}

const char* const sUsage =
    "usage: sablecoil-sim COMMAND [ARGUMENTS]\n"
    "\n"
    "  serve                         run the simulator on the session bus until stopped\n"
    "  plug --generation 1|2 [--firmware 0xMMmm] [--busy N] [--fail-commands N] [--wait]\n"
    "                                attach a virtual mouse; prints its id\n"
    "  unplug ID                     detach a virtual mouse\n"
    "  list                          the attached mice, one line each\n"
    "  report ID B0 B1 B2 B3 B4 B5 B6 B7\n"
    "                                one 8-byte input report, bytes in hex; returns once\n"
    "                                the driver host has handled it\n"
    "  delivered ID [--clear]        the reports the system received, one line each\n"
    "  commands ID                   the set-settings requests the mouse received\n"
    "  param get [KEY]               HID system parameters (all of them without KEY)\n"
    "  param set KEY VALUE           set one HID system parameter\n"
    "  open ID                       open the USB device (fails while it is busy)\n"
    "  firmware ID                   read the firmware version\n"
    "  session [show]                the console session: \"logged-out\", or\n"
    "                                \"logged-in NAME UID on-console|off-console\"\n"
    "  session login NAME UID        log a user in on the console (replaces a user)\n"
    "  session logout                log the user out\n"
    "  session switch-out            the session leaves the console (user switch)\n"
    "  session switch-in             the session is back; sends the became-active event\n"
    "  events [--clear]              the posted input events, one line each\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

} // namespace

int SimCommandLine::run(const QStringList& arguments) {
    if (arguments.isEmpty()) {
        return usage(QStringLiteral("no command given"));
    }
    const QString command = arguments.first();
    const QStringList args = arguments.mid(1);
    if (command == QLatin1String("serve")) {
        return args.isEmpty() ? serve() : usage(QStringLiteral("serve takes no arguments"));
    }
    if (command == QLatin1String("plug")) {
        return plug(args);
    }
    if (command == QLatin1String("unplug")) {
        return unplug(args);
    }
    if (command == QLatin1String("list")) {
        return list(args);
    }
    if (command == QLatin1String("report")) {
        return report(args);
    }
    if (command == QLatin1String("delivered")) {
        return delivered(args);
    }
    if (command == QLatin1String("commands")) {
        return commands(args);
    }
    if (command == QLatin1String("param")) {
        return param(args);
    }
    if (command == QLatin1String("open")) {
        return open(args);
    }
    if (command == QLatin1String("firmware")) {
        return firmware(args);
    }
    if (command == QLatin1String("session")) {
        return session(args);
    }
    if (command == QLatin1String("events")) {
        return events(args);
    }
    if (command == QLatin1String("help") || command == QLatin1String("--help") ||
        command == QLatin1String("-h")) {
        return help();
    }
    return usage(QStringLiteral("unknown command \"%1\"").arg(command));
}

Result<std::uint32_t> SimCommandLine::parseId(const QString& text) {
    bool ok = false;
    const uint id = text.toUInt(&ok, 10);
    if (!ok || id == 0) {
        return Result<std::uint32_t>::fail("\"" + text.toStdString() +
                                           "\" is not a mouse id (a positive integer)");
    }
    return id;
}

Result<std::uint32_t> SimCommandLine::parseCount(const QString& text, const char* what) {
    bool ok = false;
    const uint count = text.toUInt(&ok, 10);
    if (!ok) {
        return Result<std::uint32_t>::fail(std::string(what) + " takes a count, not \"" +
                                           text.toStdString() + "\"");
    }
    return count;
}

Result<std::uint16_t> SimCommandLine::parseFirmware(const QString& text) {
    bool ok = false;
    uint value = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        value = text.mid(2).toUInt(&ok, 16);
    } else {
        value = text.toUInt(&ok, 10);
    }
    if (!ok || value > 0xFFFF) {
        return Result<std::uint16_t>::fail("\"" + text.toStdString() +
                                           "\" is not a firmware version (0x0000 to 0xffff)");
    }
    return static_cast<std::uint16_t>(value);
}

Result<std::uint32_t> SimCommandLine::parseUserId(const QString& text) {
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || text.startsWith(QLatin1Char('+'))) {
        return Result<std::uint32_t>::fail("\"" + text.toStdString() +
                                           "\" is not a user id (0 to 4294967295)");
    }
    return value;
}

Result<QByteArray> SimCommandLine::parseReport(const QStringList& bytes) {
    if (bytes.size() != kReportLength) {
        return Result<QByteArray>::fail("a report has " + std::to_string(kReportLength) +
                                        " bytes, not " + std::to_string(bytes.size()));
    }
    QByteArray report;
    for (const QString& text : bytes) {
        QString digits = text;
        if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
            digits = digits.mid(2);
        }
        bool ok = digits.size() >= 1 && digits.size() <= 2;
        const uint value = ok ? digits.toUInt(&ok, 16) : 0;
        if (!ok) {
            return Result<QByteArray>::fail("\"" + text.toStdString() +
                                            "\" is not a hex byte (00 to ff)");
        }
        report.append(static_cast<char>(value));
    }
    return report;
}

QString SimCommandLine::formatBytes(const QByteArray& bytes) {
    QStringList parts;
    for (char byte : bytes) {
        parts.append(QStringLiteral("%1").arg(static_cast<uchar>(byte), 2, 16, QLatin1Char('0')));
    }
    return parts.join(QLatin1Char(' '));
}

int SimCommandLine::serve() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    SimService service(bus);
    // Before the name is taken: whoever sees the name may stop the service at once.
    const Status quit = QuitRequest::install([] { QCoreApplication::quit(); });
    if (!quit) {
        return fail(QString::fromStdString(quit.message()));
    }
    const Status started = service.start();
    if (!started) {
        return fail(QString::fromStdString(started.message()));
    }
    return QCoreApplication::exec();
}

int SimCommandLine::plug(const QStringList& args) {
    int generation = 0;
    std::uint16_t firmware = 0x0100;
    std::uint32_t busy = 0;
    std::uint32_t failCommands = 0;
    bool wait = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& option = args[i];
        if (option == QLatin1String("--wait")) {
            wait = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            return usage(QStringLiteral("plug: \"%1\" needs a value").arg(option));
        }
        const QString& value = args[++i];
        if (option == QLatin1String("--generation")) {
            if (value != QLatin1String("1") && value != QLatin1String("2")) {
                return usage(QStringLiteral("plug: --generation is 1 or 2, not \"%1\"").arg(value));
            }
            generation = value.toInt();
        } else if (option == QLatin1String("--firmware")) {
            const Result<std::uint16_t> parsed = parseFirmware(value);
            if (!parsed) {
                return usage(QStringLiteral("plug: ") + QString::fromStdString(parsed.message()));
            }
            firmware = parsed.value();
        } else if (option == QLatin1String("--busy") ||
                   option == QLatin1String("--fail-commands")) {
            const Result<std::uint32_t> parsed = parseCount(value, qPrintable(option));
            if (!parsed) {
                return usage(QStringLiteral("plug: ") + QString::fromStdString(parsed.message()));
            }
            (option == QLatin1String("--busy") ? busy : failCommands) = parsed.value();
        } else {
            return usage(QStringLiteral("plug: unknown option \"%1\"").arg(option));
        }
    }
    if (generation == 0) {
        return usage(QStringLiteral("plug: --generation 1|2 is required"));
    }
    const Result<QDBusMessage> reply =
        call("Plug", {generation, QVariant::fromValue<ushort>(firmware),
                      QVariant::fromValue<uint>(busy), QVariant::fromValue<uint>(failCommands)});
    if (!reply) {
        return fail(QString::fromStdString(reply.message()));
    }
    const uint id = reply->arguments().value(0).toUInt();
    if (wait) {
        const Result<QDBusMessage> bound = call(
            "WaitBound", {QVariant::fromValue<uint>(id), QVariant::fromValue<uint>(sWaitBoundMs)},
            sWaitBoundMs + 5000);
        if (!bound) {
            printLine(QString::number(id));
            return fail(QString::fromStdString(bound.message()));
        }
    }
    printLine(QString::number(id));
    return 0;
}

int SimCommandLine::unplug(const QStringList& args) {
    if (args.size() != 1) {
        return usage(QStringLiteral("unplug takes one mouse id"));
    }
    const Result<std::uint32_t> id = parseId(args[0]);
    if (!id) {
        return usage(QString::fromStdString(id.message()));
    }
    const Result<QDBusMessage> reply = call("Unplug", {QVariant::fromValue<uint>(id.value())});
    return reply ? 0 : fail(QString::fromStdString(reply.message()));
}

int SimCommandLine::list(const QStringList& args) {
    if (!args.isEmpty()) {
        return usage(QStringLiteral("list takes no arguments"));
    }
    const Result<QDBusMessage> reply = call("ListMice", {});
    if (!reply) {
        return fail(QString::fromStdString(reply.message()));
    }
    const QList<uint> ids = qdbus_cast<QList<uint>>(reply->arguments().value(0));
    for (uint id : ids) {
        const Result<QDBusMessage> info = call("MouseInfo", {QVariant::fromValue<uint>(id)});
        if (!info) {
            continue; // unplugged meanwhile
        }
        const QVariantMap map = qdbus_cast<QVariantMap>(info->arguments().value(0));
        printLine(QStringLiteral("%1 generation %2 usb %3:%4 firmware 0x%5 %6")
                      .arg(id)
                      .arg(map.value(QStringLiteral("Generation")).toInt())
                      .arg(map.value(QStringLiteral("idVendor")).toUInt(), 4, 16, QLatin1Char('0'))
                      .arg(map.value(QStringLiteral("idProduct")).toUInt(), 4, 16, QLatin1Char('0'))
                      .arg(map.value(QStringLiteral("Firmware")).toUInt(), 4, 16, QLatin1Char('0'))
                      .arg(map.value(QStringLiteral("Bound")).toBool()
                               ? QStringLiteral("bound")
                               : QStringLiteral("unbound")));
    }
    return 0;
}

int SimCommandLine::report(const QStringList& args) {
    if (args.isEmpty()) {
        return usage(QStringLiteral("report takes a mouse id and 8 hex bytes"));
    }
    const Result<std::uint32_t> id = parseId(args[0]);
    if (!id) {
        return usage(QString::fromStdString(id.message()));
    }
    const Result<QByteArray> bytes = parseReport(args.mid(1));
    if (!bytes) {
        return usage(QStringLiteral("report: ") + QString::fromStdString(bytes.message()));
    }
    const Result<QDBusMessage> reply = call(
        "Report", {QVariant::fromValue<uint>(id.value()), bytes.value()}, sReportCallTimeoutMs);
    return reply ? 0 : fail(QString::fromStdString(reply.message()));
}

int SimCommandLine::delivered(const QStringList& args) {
    const bool clear = args.contains(QLatin1String("--clear"));
    QStringList rest = args;
    rest.removeAll(QStringLiteral("--clear"));
    if (rest.size() != 1) {
        return usage(QStringLiteral("delivered takes one mouse id and an optional --clear"));
    }
    const Result<std::uint32_t> id = parseId(rest[0]);
    if (!id) {
        return usage(QString::fromStdString(id.message()));
    }
    const Result<QDBusMessage> reply =
        call("Delivered", {QVariant::fromValue<uint>(id.value()), clear});
    if (!reply) {
        return fail(QString::fromStdString(reply.message()));
    }
    for (const QByteArray& bytes : qdbus_cast<QByteArrayList>(reply->arguments().value(0))) {
        printLine(formatBytes(bytes));
    }
    return 0;
}

int SimCommandLine::commands(const QStringList& args) {
    if (args.size() != 1) {
        return usage(QStringLiteral("commands takes one mouse id"));
    }
    const Result<std::uint32_t> id = parseId(args[0]);
    if (!id) {
        return usage(QString::fromStdString(id.message()));
    }
    const Result<QDBusMessage> reply = call("Commands", {QVariant::fromValue<uint>(id.value())});
    if (!reply) {
        return fail(QString::fromStdString(reply.message()));
    }
    const QByteArrayList data = qdbus_cast<QByteArrayList>(reply->arguments().value(0));
    const QList<bool> rejected = qdbus_cast<QList<bool>>(reply->arguments().value(1));
    for (qsizetype i = 0; i < data.size(); ++i) {
        printLine(formatBytes(data[i]) +
                  (rejected.value(i) ? QStringLiteral(" rejected") : QString()));
    }
    return 0;
}

int SimCommandLine::param(const QStringList& args) {
    if (args.size() == 1 && (args[0] == QLatin1String("get") || args[0] == QLatin1String("list"))) {
        const Result<QDBusMessage> reply = call("GetParameters", {});
        if (!reply) {
            return fail(QString::fromStdString(reply.message()));
        }
        const QVariantMap values = qdbus_cast<QVariantMap>(reply->arguments().value(0));
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            printLine(it.key() + QLatin1Char(' ') + HidParameters::format(it.value()));
        }
        return 0;
    }
    if (args.size() == 2 && args[0] == QLatin1String("get")) {
        const Result<QDBusMessage> reply = call("GetParameter", {args[1]});
        if (!reply) {
            return fail(QString::fromStdString(reply.message()));
        }
        printLine(
            HidParameters::format(qdbus_cast<QDBusVariant>(reply->arguments().value(0)).variant()));
        return 0;
    }
    if (args.size() == 3 && args[0] == QLatin1String("set")) {
        const Result<QVariant> value = HidParameters::parse(args[2]);
        if (!value) {
            return usage(QStringLiteral("param set: ") + QString::fromStdString(value.message()));
        }
        const Result<QDBusMessage> reply =
            call("SetParameter", {args[1], QVariant::fromValue(QDBusVariant(value.value()))});
        return reply ? 0 : fail(QString::fromStdString(reply.message()));
    }
    return usage(QStringLiteral("param get [KEY] | param set KEY VALUE"));
}

int SimCommandLine::open(const QStringList& args) {
    if (args.size() != 1) {
        return usage(QStringLiteral("open takes one mouse id"));
    }
    const Result<std::uint32_t> id = parseId(args[0]);
    if (!id) {
        return usage(QString::fromStdString(id.message()));
    }
    const Result<QDBusMessage> reply = call("OpenDevice", {QVariant::fromValue<uint>(id.value())});
    if (!reply) {
        return fail(QString::fromStdString(reply.message()));
    }
    const auto status = static_cast<IoStatus>(reply->arguments().value(0).toInt());
    if (status != kIoSuccess) {
        return fail(QStringLiteral("cannot open mouse %1: %2 (0x%3)")
                        .arg(id.value())
                        .arg(QString::fromLatin1(ioStatusText(status)))
                        .arg(static_cast<std::uint32_t>(status), 8, 16, QLatin1Char('0')));
    }
    printLine(QStringLiteral("opened"));
    return 0;
}

int SimCommandLine::firmware(const QStringList& args) {
    if (args.size() != 1) {
        return usage(QStringLiteral("firmware takes one mouse id"));
    }
    const Result<std::uint32_t> id = parseId(args[0]);
    if (!id) {
        return usage(QString::fromStdString(id.message()));
    }
    const Result<QDBusMessage> reply =
        call("ReadFirmware", {QVariant::fromValue<uint>(id.value())});
    if (!reply) {
        return fail(QString::fromStdString(reply.message()));
    }
    const auto status = static_cast<IoStatus>(reply->arguments().value(0).toInt());
    if (status != kIoSuccess) {
        return fail(QStringLiteral("cannot read the firmware of mouse %1: %2")
                        .arg(id.value())
                        .arg(QString::fromLatin1(ioStatusText(status))));
    }
    printLine(
        QStringLiteral("0x%1").arg(reply->arguments().value(1).toUInt(), 4, 16, QLatin1Char('0')));
    return 0;
}

int SimCommandLine::session(const QStringList& args) {
    const QString sub = args.value(0, QStringLiteral("show"));
    const char* method = nullptr;
    QVariantList callArgs;
    if (sub == QLatin1String("show")) {
        if (args.size() > 1) {
            return usage(QStringLiteral("session show takes no arguments"));
        }
        const Result<QDBusMessage> reply = call("SessionInfo", {});
        if (!reply) {
            return fail(QString::fromStdString(reply.message()));
        }
        const QVariantMap info = qdbus_cast<QVariantMap>(reply->arguments().value(0));
        printLine(ConsoleSessionState::describe(info.value(QStringLiteral("LoginDone")).toBool(),
                                                info.value(QStringLiteral("OnConsole")).toBool(),
                                                info.value(QStringLiteral("UserName")).toString(),
                                                info.value(QStringLiteral("UserId")).toUInt()));
        return 0;
    }
    if (sub == QLatin1String("login")) {
        if (args.size() != 3) {
            return usage(QStringLiteral("session login takes a user name and a user id"));
        }
        const Result<std::uint32_t> userId = parseUserId(args[2]);
        if (!userId) {
            return usage(QStringLiteral("session login: ") +
                         QString::fromStdString(userId.message()));
        }
        method = "SessionLogin";
        callArgs = {args[1], QVariant::fromValue<uint>(userId.value())};
    } else if (sub == QLatin1String("logout") || sub == QLatin1String("switch-out") ||
               sub == QLatin1String("switch-in")) {
        if (args.size() != 1) {
            return usage(QStringLiteral("session %1 takes no arguments").arg(sub));
        }
        method = sub == QLatin1String("logout")       ? "SessionLogout"
                 : sub == QLatin1String("switch-out") ? "SessionSwitchOut"
                                                      : "SessionSwitchIn";
    } else {
        return usage(QStringLiteral("session [show] | session login NAME UID | session logout | "
                                    "session switch-out | session switch-in"));
    }
    const Result<QDBusMessage> reply = call(method, callArgs);
    return reply ? 0
                 : fail(QStringLiteral("session %1: ").arg(sub) +
                        QString::fromStdString(reply.message()));
}

int SimCommandLine::events(const QStringList& args) {
    const bool clear = args.size() == 1 && args[0] == QLatin1String("--clear");
    if (!args.isEmpty() && !clear) {
        return usage(QStringLiteral("events takes only an optional --clear"));
    }
    const Result<QDBusMessage> reply = call("Events", {clear});
    if (!reply) {
        return fail(QString::fromStdString(reply.message()));
    }
    for (const QString& line : reply->arguments().value(0).toStringList()) {
        printLine(line);
    }
    return 0;
}

int SimCommandLine::help() {
    std::fputs(sUsage, stdout);
    return 0;
}

Result<QDBusMessage> SimCommandLine::call(const char* method, const QVariantList& args,
                                          int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return Result<QDBusMessage>::fail("cannot connect to the session bus: " +
                                          bus.lastError().message().toStdString());
    }
    qDBusRegisterMetaType<QList<uint>>();
    qDBusRegisterMetaType<QList<bool>>();
    qDBusRegisterMetaType<QByteArrayList>();
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(SimulatorBus::kService), QString::fromLatin1(SimulatorBus::kPath),
        QString::fromLatin1(SimulatorBus::kInterface), QString::fromLatin1(method));
    message.setArguments(args);
    const QDBusMessage reply = bus.call(message, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return reply;
    }
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return Result<QDBusMessage>::fail(
            "the simulator is not running (start it with \"sablecoil-sim serve\")");
    }
    return Result<QDBusMessage>::fail(reply.errorMessage().toStdString());
}

int SimCommandLine::usage(const QString& text) {
    std::fprintf(stderr, "sablecoil-sim: %s\n(see \"sablecoil-sim help\")\n", qPrintable(text));
    return kExitUsage;
}

int SimCommandLine::fail(const QString& text) {
    std::fprintf(stderr, "sablecoil-sim: %s\n", qPrintable(text));
    return kExitFailure;
}
