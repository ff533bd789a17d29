// SettingsDomain: one per-user preferences domain, a dictionary of property
// list values kept in `$XDG_CONFIG_HOME/sablecoil/<domain>.plist`.
//
// Writes go to disk at once: under an exclusive lock the stored file is read
// again, the given keys are merged into it (so keys written meanwhile by
// another process survive) and the file is replaced atomically. Reads re-read
// the file only when it changed on disk. A corrupt file is reported once on
// standard error and reads as empty; the next write moves it aside to
// `<domain>.plist.corrupt-<timestamp>` instead of overwriting it.
//
// One object is meant for one thread; any number of objects and processes may
// use the same domain at once.
#pragma once

#include "PlistValue.h"
#include "Result.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string_view>

struct stat;

class SettingsDomain {
public:
    // The domains of the two device generations and the application's own
    // defaults (its default macro delay and window frame).
    static constexpr const char* kFirstGeneration = "com.Orvix.Sablecoil";
    static constexpr const char* kSecondGeneration = "com.Orvix.SablecoilV2";
    static constexpr const char* kApplication = "com.Orvix.Sablecoil.App";

    explicit SettingsDomain(QString name);

    // The domain for the application's own defaults.
    static SettingsDomain application() { return SettingsDomain(kApplication); }

    // Where domain files live: `$XDG_CONFIG_HOME/sablecoil`, or
    // `$HOME/.config/sablecoil` when XDG_CONFIG_HOME is unset, empty or relative.
    static QString directory();

    const QString& name() const { return fName; }
    QString filePath() const;

    // All keys of the domain as a dictionary (empty when the domain has no
    // file or the file is unusable).
    PlistValue copyAll();
    // One key's value; an empty (None) value when absent.
    PlistValue copyValue(std::string_view key);
    // Whether the domain has a usable file with at least one key.
    bool exists();

    // Merges the entries of a dictionary into the stored domain; an entry with
    // an empty (None) value removes that key. Written to disk before returning.
    Status setMultiple(const PlistValue& entries);
    // Sets one key (an empty value removes it). Written to disk before returning.
    Status setValue(std::string_view key, PlistValue value);

    // Forgets what this object has read and reads the file again. Writes are
    // already on disk, so there is nothing to flush. Fails when the stored file
    // is present but cannot be used.
    Status synchronize();

private:
    // Identity of the file last read: changes with every replacement. A
    // missing file has size -1; one that cannot be examined has kInaccessible.
    static constexpr std::int64_t kInaccessible = -2;
    struct Stamp {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = -1;
        std::int64_t mtimeNs = 0;
        std::int64_t ctimeNs = 0;
        bool operator==(const Stamp&) const = default;
    };

    // Outcome of reading the stored file.
    struct Stored {
        bool present = false;        // a file is there
        bool unreadable = false;     // it cannot be read at all (as opposed to parsed)
        PlistValue content;          // its dictionary when usable, else empty
        Status status;               // why the file is not usable
        std::size_t contentHash = 0; // of the bytes read, to report each bad content once
        Stamp stamp;
    };

    static Stamp stampOf(const struct ::stat& st);
    static Stamp statStamp(const QString& path);
    Stored readStored() const;
    void refresh();
    Status moveAside(const QString& reason) const;
    void removeStrayTemporaries() const;

    QString fName;
    QString fDirectory;
    bool fNameValid = false;
    bool fLoaded = false;
    Stamp fStamp;
    PlistValue fCache;
    Status fCacheStatus;
};
