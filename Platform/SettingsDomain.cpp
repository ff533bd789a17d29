// SettingsDomain: the per-user preferences domains as XML property-list files,
// written atomically under a lock and re-read when they change on disk.
#include "SettingsDomain.h"

#include "PlistCodec.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex sReportMutex;
std::set<std::string> sReported;

// Prints a problem with a settings file once per file, reason and content.
void reportOnce(const QString& path, const QString& reason, std::size_t contentHash) {
    const std::string key =
        path.toStdString() + '\n' + reason.toStdString() + '\n' + std::to_string(contentHash);
    {
        std::lock_guard<std::mutex> guard(sReportMutex);
        if (!sReported.insert(key).second) {
            return;
        }
    }
    std::fprintf(stderr,
                 "Sablecoil: the settings file \"%s\" cannot be used (%s); its settings are "
                 "ignored and the next change moves it aside.\n",
                 qPrintable(path), qPrintable(reason));
    std::fflush(stderr);
}

bool validName(const QString& name) {
    return !name.isEmpty() && name.size() <= 200 && name != QLatin1String(".") &&
           name != QLatin1String("..") && !name.contains(QLatin1Char('/')) &&
           !name.contains(QChar(0));
}

// Creates every missing folder of `path` with mode 0700.
Status makePath(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return Status::success();
    }
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current = path.startsWith(QLatin1Char('/')) ? QStringLiteral("") : QStringLiteral(".");
    for (const QString& part : parts) {
        current += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(current);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
            return Status::fail("cannot create the folder " + current.toStdString() + ": " +
                                std::strerror(errno));
        }
    }
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Status::fail(path.toStdString() + " is not a folder");
    }
    return Status::success();
}

// An exclusive lock on a domain's lock file, held by this process until the
// object goes away. flock() waiters queue in the kernel (no polling, so a
// busy writer cannot starve another one), and the kernel drops the lock when
// its holder exits or is killed, so no stale lock is ever left behind. The
// lock file itself stays: removing it would let two writers lock different
// files of the same name.
class WriteLock {
public:
    explicit WriteLock(const QString& path) {
        fFd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fFd < 0) {
            fError = std::string("cannot open the lock ") + path.toStdString() + ": " +
                     std::strerror(errno);
            return;
        }
        int result = 0;
        while ((result = ::flock(fFd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (result != 0) {
            fError = std::string("cannot lock ") + path.toStdString() + ": " + std::strerror(errno);
            ::close(fFd);
            fFd = -1;
        }
    }
    ~WriteLock() {
        if (fFd >= 0) {
            ::close(fFd); // releases the lock
        }
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    bool locked() const { return fFd >= 0; }
    const std::string& error() const { return fError; }

private:
    int fFd = -1;
    std::string fError;
};

// Makes a rename or a new file in `path` durable.
Status syncDirectory(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Status::fail("cannot open the folder " + path.toStdString() + ": " +
                            std::strerror(errno));
    }
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0) {
        return Status::fail("cannot flush the folder " + path.toStdString() + ": " +
                            std::strerror(error));
    }
    return Status::success();
}

} // namespace

SettingsDomain::SettingsDomain(QString name)
    : fName(std::move(name)), fDirectory(directory()), fNameValid(validName(fName)),
      fCache(PlistValue::dictionary()) {}

QString SettingsDomain::directory() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return QDir::cleanPath(base + QStringLiteral("/sablecoil"));
}

QString SettingsDomain::filePath() const {
    return fDirectory + QLatin1Char('/') + fName + QStringLiteral(".plist");
}

SettingsDomain::Stamp SettingsDomain::stampOf(const struct ::stat& st) {
    return Stamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                 static_cast<std::int64_t>(st.st_size),
                 st.st_mtim.tv_sec * 1000000000ll + st.st_mtim.tv_nsec,
                 st.st_ctim.tv_sec * 1000000000ll + st.st_ctim.tv_nsec};
}

SettingsDomain::Stamp SettingsDomain::statStamp(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        return stampOf(st);
    }
    Stamp missing;
    if (errno != ENOENT) {
        missing.size = kInaccessible;
    }
    return missing;
}

SettingsDomain::Stored SettingsDomain::readStored() const {
    Stored stored;
    stored.content = PlistValue::dictionary();
    const QByteArray path = QFile::encodeName(filePath());
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            stored.present = true;
            stored.unreadable = true;
            stored.status = Status::fail(std::strerror(errno));
        }
        return stored;
    }
    stored.present = true;
    struct stat st {};
    std::string bytes;
    if (::fstat(fd, &st) != 0) {
        stored.status = Status::fail(std::strerror(errno));
        stored.unreadable = true;
    } else if (!S_ISREG(st.st_mode)) {
        stored.status = Status::fail("not a regular file");
        stored.unreadable = true;
    } else if (static_cast<std::uint64_t>(st.st_size) > PlistCodec::kMaxInputSize) {
        stored.status =
            Status::fail("larger than " + std::to_string(PlistCodec::kMaxInputSize >> 20) + " MiB");
    } else {
        stored.stamp = stampOf(st);
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                stored.status = Status::fail(std::strerror(errno));
                stored.unreadable = true;
                break;
            }
            if (n == 0) {
                bytes.resize(done); // the file shrank: parse what is there
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    if (!stored.status) {
        return stored;
    }
    stored.contentHash = std::hash<std::string>{}(bytes);
    Result<PlistValue> value = PlistCodec::readDictionary(bytes);
    if (!value) {
        stored.status = Status::fail(value.message());
        return stored;
    }
    stored.content = std::move(value).value();
    return stored;
}

void SettingsDomain::refresh() {
    if (!fNameValid) {
        fCache = PlistValue::dictionary();
        fCacheStatus = Status::fail("invalid settings domain name \"" + fName.toStdString() + "\"");
        return;
    }
    const Stamp now = statStamp(filePath());
    if (fLoaded && now == fStamp && now.size != kInaccessible) {
        return;
    }
    Stored stored = readStored();
    fLoaded = true;
    fStamp = stored.stamp;
    fCache = std::move(stored.content);
    fCacheStatus = stored.status;
    if (!stored.status) {
        reportOnce(filePath(), QString::fromStdString(stored.status.message()), stored.contentHash);
    }
}

PlistValue SettingsDomain::copyAll() {
    refresh();
    return fCache;
}

PlistValue SettingsDomain::copyValue(std::string_view key) {
    refresh();
    return fCache.get(key);
}

bool SettingsDomain::exists() {
    refresh();
    return fCache.size() > 0;
}

Status SettingsDomain::synchronize() {
    fLoaded = false;
    refresh();
    if (!fCacheStatus) {
        return Status::fail("settings file " + filePath().toStdString() + ": " +
                            fCacheStatus.message());
    }
    return Status::success();
}

Status SettingsDomain::setValue(std::string_view key, PlistValue value) {
    PlistValue entries = PlistValue::dictionary();
    entries.set(key, std::move(value));
    return setMultiple(entries);
}

Status SettingsDomain::moveAside(const QString& reason) const {
    const QString path = filePath();
    const QString base = path + QStringLiteral(".corrupt-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd'T'hhmmss"));
    QString target = base;
    for (int n = 2; QFile::exists(target); ++n) {
        target = base + QLatin1Char('-') + QString::number(n);
    }
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) != 0) {
        return Status::fail("cannot move the unusable settings file " + path.toStdString() +
                            " aside: " + std::strerror(errno));
    }
    std::fprintf(stderr,
                 "Sablecoil: moved the unusable settings file \"%s\" (%s) aside to \"%s\".\n",
                 qPrintable(path), qPrintable(reason), qPrintable(target));
    std::fflush(stderr);
    return Status::success();
}

void SettingsDomain::removeStrayTemporaries() const {
    // QSaveFile names its temporary file "<file>.XXXXXX" (six letters or digits)
    // just before renaming it. Writers only do that under the lock, so while
    // this process holds it, any such file was left by a writer that died.
    const QString prefix = fName + QStringLiteral(".plist.");
    const QStringList names =
        QDir(fDirectory).entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        const QStringView suffix = QStringView(name).mid(prefix.size());
        const bool temporary = std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
            return c.unicode() < 128 && c.isLetterOrNumber();
        });
        if (temporary) {
            ::unlink(QFile::encodeName(fDirectory + QLatin1Char('/') + name).constData());
        }
    }
}

Status SettingsDomain::setMultiple(const PlistValue& entries) {
    const std::string where = "cannot write settings domain " + fName.toStdString() + ": ";
    if (!fNameValid) {
        return Status::fail(where + "invalid domain name");
    }
    if (!entries.isDictionary()) {
        return Status::fail(where + "the settings to write are not a dictionary");
    }
    if (Status s = makePath(fDirectory); !s) {
        return Status::fail(where + s.message());
    }

    const QString path = filePath();
    WriteLock lock(path + QStringLiteral(".lock"));
    if (!lock.locked()) {
        return Status::fail(where + lock.error());
    }

    removeStrayTemporaries();

    // Merge into what is stored now, not into what this object read before.
    Stored stored = readStored();
    if (stored.unreadable) {
        return Status::fail(where + path.toStdString() + ": " + stored.status.message());
    }
    if (!stored.status) {
        if (Status s = moveAside(QString::fromStdString(stored.status.message())); !s) {
            return Status::fail(where + s.message());
        }
        stored.present = false;
    }
    PlistValue merged = std::move(stored.content);
    bool changed = !stored.present;
    for (const auto& [key, value] : entries.dict()) {
        PlistValue* existing = merged.find(key);
        if (value.isNone()) {
            changed = merged.remove(key) || changed;
        } else if (!existing || *existing != value) {
            merged.set(key, value);
            changed = true;
        }
    }

    if (changed) {
        Result<std::string> xml = PlistCodec::writeXml(merged);
        if (!xml) {
            return Status::fail(where + xml.message());
        }
        // QSaveFile writes a temporary file in the same folder, flushes it to
        // disk and renames it over the old one on commit.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            return Status::fail(where + file.errorString().toStdString());
        }
        if (file.write(xml->data(), static_cast<qint64>(xml->size())) !=
                static_cast<qint64>(xml->size()) ||
            !file.flush()) {
            const std::string error = file.errorString().toStdString();
            file.cancelWriting();
            return Status::fail(where + error);
        }
        if (!file.commit()) {
            return Status::fail(where + file.errorString().toStdString());
        }
        if (Status s = syncDirectory(fDirectory); !s) {
            return Status::fail(where + s.message());
        }
    }

    // What is on disk now is what this object holds (no other writer can have
    // replaced it while the lock is held).
    fCache = std::move(merged);
    fCacheStatus = Status::success();
    fStamp = statStamp(path);
    fLoaded = true;
    return Status::success();
}
