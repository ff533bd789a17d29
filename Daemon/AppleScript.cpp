// AppleScript: the script runner of the media commands.
#include "AppleScript.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

std::optional<std::string> AppleScript::executeScriptAtPath(const std::string& path) {
    const QFileInfo file(QString::fromStdString(path));
    if (path.empty() || !file.isFile() || !file.isExecutable()) {
        return std::nullopt;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(file.absoluteFilePath(), {});
    if (!process.waitForStarted()) {
        return std::nullopt;
    }
    // A script that hangs must not hold the agent's event loop for ever.
    if (!process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    const QByteArray output = process.readAllStandardOutput().trimmed();
    if (output.isEmpty()) {
        return std::nullopt; // a script without a result
    }
    return output.toStdString();
}

std::string AppleScript::scriptFolder() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/sablecoil/scripts"))
        .toStdString();
}

std::string AppleScript::scriptPath(const std::string& name) {
    const QFileInfo file(QString::fromStdString(scriptFolder()) + QLatin1Char('/') +
                         QString::fromStdString(name));
    return file.isFile() ? file.absoluteFilePath().toStdString() : std::string();
}
