// Tests of SettingsDomain: values round trip through the domain file, writes
// merge with other writers' keys, corrupt files are reported and kept, and
// concurrent or killed writers never lose keys or tear the file. Each test
// gets its own XDG_CONFIG_HOME in a temporary folder.
#include "SettingsDomain.h"

#include "PlistCodec.h"
#include "SettingsWriterPayload.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using testing::HasSubstr;
using testing::Not;

const char* const sDomain = SettingsDomain::kSecondGeneration;

class SettingsDomainTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fHome.isValid());
        fOldConfig = qgetenv("XDG_CONFIG_HOME");
        fHadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(fHome.path() + "/config"));
    }

    void TearDown() override {
        if (fHadConfig) {
            qputenv("XDG_CONFIG_HOME", fOldConfig);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
    }

    QString folder() const { return fHome.path() + "/config/sablecoil"; }
    QString file(const QString& domain = sDomain) const {
        return folder() + "/" + domain + ".plist";
    }

    static QByteArray readFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void writeFile(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    // The stored file as parsed independently of SettingsDomain.
    Result<PlistValue> stored(const QString& domain = sDomain) const {
        const QByteArray bytes = readFile(file(domain));
        return PlistCodec::readDictionary(std::string_view(bytes.constData(), bytes.size()));
    }

    QStringList corruptCopies() const {
        return QDir(folder()).entryList({QString(sDomain) + ".plist.corrupt-*"}, QDir::Files,
                                        QDir::Name);
    }

    // Starts the helper process with the given arguments.
    static pid_t spawnWriter(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        std::string program = SETTINGS_WRITER;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            return -1;
        }
        return pid;
    }

    // Waits for the process; its exit status, or 128 + signal.
    static int reap(pid_t pid) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    QTemporaryDir fHome;
    QByteArray fOldConfig;
    bool fHadConfig = false;
};

TEST_F(SettingsDomainTest, NamesAndLocation) {
    EXPECT_EQ(SettingsDomain::application().name(), "com.Orvix.Sablecoil.App");
    EXPECT_STREQ(SettingsDomain::kFirstGeneration, "com.Orvix.Sablecoil");
    EXPECT_STREQ(SettingsDomain::kSecondGeneration, "com.Orvix.SablecoilV2");
    EXPECT_EQ(SettingsDomain(sDomain).filePath(), file());

    // A relative or empty XDG_CONFIG_HOME is ignored in favour of ~/.config.
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(fHome.path() + "/home"));
    for (const char* config : {"relative/config", ""}) {
        qputenv("XDG_CONFIG_HOME", config);
        EXPECT_EQ(SettingsDomain::directory(), fHome.path() + "/home/.config/sablecoil") << config;
    }
    qputenv("HOME", oldHome);
}

TEST_F(SettingsDomainTest, ValuesRoundTripThroughTheFile) {
    const PlistValue profile = PlistValue::dictionary(
        {{"Sensitivity", PlistValue::real(9.8)},
         {"ButtonMappings", PlistValue::array({PlistValue::data({0x03, 0x31, 0x31, 0x37})})}});
    const std::vector<std::pair<std::string, PlistValue>> values = {
        {"PrefIsActive", PlistValue::int16(1)},
        {"FirmwareVersion", PlistValue::int16(0x0102)},
        {"Negative", PlistValue::int64(-7)},
        {"Real", PlistValue::real(0.1)},
        {"Flag", PlistValue::boolean(true)},
        {"Name", PlistValue::string("Größe ✓")},
        {"ProfileArray", PlistValue::array({profile, profile})},
    };
    SettingsDomain domain(sDomain);
    EXPECT_FALSE(domain.exists());
    for (const auto& [key, value] : values) {
        ASSERT_TRUE(domain.setValue(key, value).ok()) << key;
    }
    // A fresh object and an independent parser see the same, in order.
    SettingsDomain fresh(sDomain);
    PlistValue expected = PlistValue::dictionary();
    for (const auto& [key, value] : values) {
        EXPECT_EQ(fresh.copyValue(key), value) << key;
        expected.set(key, value);
    }
    EXPECT_EQ(fresh.copyAll(), expected);
    ASSERT_TRUE(stored().ok());
    EXPECT_EQ(*stored(), expected);
    EXPECT_TRUE(fresh.exists());
    EXPECT_TRUE(fresh.copyValue("Missing").isNone());

    // The folder is private; the file is XML.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(folder()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(readFile(file()).startsWith("<?xml"));

    // An empty value removes the key.
    ASSERT_TRUE(domain.setValue("Negative", PlistValue()).ok());
    EXPECT_FALSE(fresh.copyAll().contains("Negative"));
    EXPECT_EQ(fresh.copyAll().size(), values.size() - 1);
}

TEST_F(SettingsDomainTest, WritesMergeWithKeysWrittenMeanwhile) {
    SettingsDomain agent(sDomain);
    SettingsDomain app(sDomain);
    ASSERT_TRUE(agent.setValue("ProfileNumber", PlistValue::int32(1)).ok());
    EXPECT_EQ(app.copyValue("ProfileNumber").toInt64(), 1); // app has read (and cached) the file

    ASSERT_TRUE(agent.setValue("FirmwareVersion", PlistValue::int16(0x0102)).ok());
    ASSERT_TRUE(app.setMultiple(PlistValue::dictionary({{"ProfileNumber", PlistValue::int32(3)},
                                                        {"Extra", PlistValue::string("x")}}))
                    .ok());
    const PlistValue expected =
        PlistValue::dictionary({{"ProfileNumber", PlistValue::int32(3)},
                                {"FirmwareVersion", PlistValue::int16(0x0102)},
                                {"Extra", PlistValue::string("x")}});
    EXPECT_EQ(*stored(), expected);
    // Each side sees the other's writes at its next read.
    EXPECT_EQ(agent.copyAll(), expected);
    EXPECT_EQ(app.copyAll(), expected);

    // A file replaced behind the domain's back is noticed too.
    writeFile(file(), "<plist><dict><key>ProfileNumber</key><integer>5</integer></dict></plist>");
    EXPECT_EQ(app.copyValue("ProfileNumber").toInt64(), 5);
    EXPECT_TRUE(app.synchronize().ok());
    std::remove(QFile::encodeName(file()).constData());
    EXPECT_FALSE(app.exists());
    EXPECT_EQ(app.copyAll(), PlistValue::dictionary());
}

TEST_F(SettingsDomainTest, ExistsNeedsAtLeastOneKey) {
    SettingsDomain domain(sDomain);
    EXPECT_FALSE(domain.exists());
    writeFile(file(), "<plist><dict/></plist>");
    EXPECT_FALSE(domain.exists());
    ASSERT_TRUE(domain.setValue("PrefIsActive", PlistValue::int16(0)).ok());
    EXPECT_TRUE(domain.exists());
    EXPECT_FALSE(SettingsDomain(SettingsDomain::kFirstGeneration).exists());
}

TEST_F(SettingsDomainTest, ReadsBinaryFiles) {
    // {"ProfileNumber": 3, "FirmwareVersion": 258}, written by plistutil -f bin.
    const unsigned char binary[] = {
        0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd2, 0x01, 0x03, 0x02, 0x04, 0x5d, 0x50,
        0x72, 0x6f, 0x66, 0x69, 0x6c, 0x65, 0x4e, 0x75, 0x6d, 0x62, 0x65, 0x72, 0x10, 0x03, 0x5f,
        0x10, 0x0f, 0x46, 0x69, 0x72, 0x6d, 0x77, 0x61, 0x72, 0x65, 0x56, 0x65, 0x72, 0x73, 0x69,
        0x6f, 0x6e, 0x11, 0x01, 0x02, 0x08, 0x0d, 0x1b, 0x1d, 0x2f, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x32};
    writeFile(file(), QByteArray(reinterpret_cast<const char*>(binary), sizeof binary));
    SettingsDomain domain(sDomain);
    EXPECT_EQ(domain.copyValue("ProfileNumber").toInt64(), 3);
    EXPECT_EQ(domain.copyValue("FirmwareVersion").toInt64(), 258);
    // A write keeps the keys and stores XML.
    ASSERT_TRUE(domain.setValue("PrefIsActive", PlistValue::int16(1)).ok());
    EXPECT_TRUE(readFile(file()).startsWith("<?xml"));
    EXPECT_EQ(*stored(), PlistValue::dictionary({{"ProfileNumber", PlistValue::int64(3)},
                                                 {"FirmwareVersion", PlistValue::int64(258)},
                                                 {"PrefIsActive", PlistValue::int16(1)}}));
    EXPECT_TRUE(corruptCopies().isEmpty());
}

struct Corruption {
    const char* name;
    QByteArray content;
    const char* reason;
};

TEST_F(SettingsDomainTest, CorruptFileIsReportedOnceAndKeptAside) {
    const std::vector<Corruption> cases = {
        {"Garbage", "this is not a property list", "not a property list"},
        {"Truncated", "<?xml version=\"1.0\"?><plist><dict><key>ProfileNumber</key><integer>1",
         "truncated"},
        {"ArrayRoot", "<plist><array><integer>1</integer></array></plist>", "root is an array"},
        {"TruncatedBinary", QByteArray("bplist00\xd1\x01\x02", 11), "truncated binary"},
    };
    for (const Corruption& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(folder()).removeRecursively();
        writeFile(file(), c.content);

        SettingsDomain domain(sDomain);
        testing::internal::CaptureStderr();
        EXPECT_EQ(domain.copyAll(), PlistValue::dictionary());
        EXPECT_FALSE(domain.exists());
        EXPECT_TRUE(SettingsDomain(sDomain).copyValue("ProfileNumber").isNone());
        EXPECT_FALSE(domain.synchronize().ok());
        const std::string report = testing::internal::GetCapturedStderr();
        EXPECT_THAT(report, HasSubstr(file().toStdString()));
        EXPECT_THAT(report, HasSubstr(c.reason));
        // Reported once, however often the file is read.
        EXPECT_EQ(report.find(file().toStdString()), report.rfind(file().toStdString())) << report;

        // The next write keeps the bad file, byte for byte, beside the new one.
        testing::internal::CaptureStderr();
        ASSERT_TRUE(domain.setValue("ProfileNumber", PlistValue::int32(1)).ok());
        EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("aside"));
        const QStringList copies = corruptCopies();
        ASSERT_EQ(copies.size(), 1);
        EXPECT_THAT(copies[0].toStdString(),
                    testing::MatchesRegex(".*\\.corrupt-[0-9]{8}T[0-9]{6}"));
        EXPECT_EQ(readFile(folder() + "/" + copies[0]), c.content);
        EXPECT_EQ(*stored(), PlistValue::dictionary({{"ProfileNumber", PlistValue::int32(1)}}));
    }

    // A second bad file in the same second gets its own name.
    testing::internal::CaptureStderr();
    writeFile(file(), "junk one");
    ASSERT_TRUE(SettingsDomain(sDomain).setValue("A", PlistValue::int32(1)).ok());
    writeFile(file(), "junk two");
    ASSERT_TRUE(SettingsDomain(sDomain).setValue("B", PlistValue::int32(2)).ok());
    testing::internal::GetCapturedStderr();
    QStringList contents;
    for (const QString& copy : corruptCopies()) {
        contents << QString::fromUtf8(readFile(folder() + "/" + copy));
    }
    EXPECT_TRUE(contents.contains("junk one") && contents.contains("junk two"))
        << contents.join(",").toStdString();
}

TEST_F(SettingsDomainTest, UnreadableFileIsNeitherOverwrittenNorMoved) {
    QDir().mkpath(file() + "/inside"); // a folder where the file should be
    SettingsDomain domain(sDomain);
    testing::internal::CaptureStderr();
    EXPECT_EQ(domain.copyAll(), PlistValue::dictionary());
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("not a regular file"));
    const Status s = domain.setValue("ProfileNumber", PlistValue::int32(1));
    ASSERT_FALSE(s.ok());
    EXPECT_THAT(s.message(), HasSubstr(file().toStdString()));
    EXPECT_TRUE(QDir(file() + "/inside").exists());
    EXPECT_TRUE(corruptCopies().isEmpty());
}

TEST_F(SettingsDomainTest, RefusesBadWrites) {
    SettingsDomain domain(sDomain);
    ASSERT_TRUE(domain.setValue("Keep", PlistValue::int32(1)).ok());
    const QByteArray before = readFile(file());
    EXPECT_FALSE(domain.setMultiple(PlistValue::array()).ok());
    const Status nul = domain.setValue("Bad", PlistValue::string(std::string("a\0b", 3)));
    EXPECT_FALSE(nul.ok());
    EXPECT_THAT(nul.message(), HasSubstr("NUL"));
    EXPECT_EQ(readFile(file()), before);
    for (const char* name : {"", "..", "a/b"}) {
        SettingsDomain bad(name);
        EXPECT_FALSE(bad.setValue("K", PlistValue::int32(1)).ok()) << name;
        EXPECT_EQ(bad.copyAll(), PlistValue::dictionary());
    }
}

TEST_F(SettingsDomainTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kWrites = 1000;
    const pid_t a = spawnWriter({"keys", sDomain, "A", std::to_string(kWrites)});
    const pid_t b = spawnWriter({"keys", sDomain, "B", std::to_string(kWrites)});
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_EQ(reap(a), 0);
    EXPECT_EQ(reap(b), 0);

    Result<PlistValue> result = stored();
    ASSERT_TRUE(result.ok()) << result.message();
    EXPECT_EQ(result->size(), 2u * kWrites);
    for (int i = 0; i < kWrites; ++i) {
        for (const char* prefix : {"A", "B"}) {
            const std::string key = prefix + std::to_string(i);
            ASSERT_TRUE(result->contains(key)) << key;
            EXPECT_EQ(result->intFor(key, -1), i) << key;
        }
    }
}

TEST_F(SettingsDomainTest, KilledWriterLeavesTheOldOrTheNewFile) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> delayUs(0, 25000);
    std::int64_t last = 0;
    for (int round = 0; round < 300; ++round) {
        const pid_t writer = spawnWriter({"step", sDomain});
        ASSERT_GT(writer, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        ::kill(writer, SIGKILL);
        ASSERT_EQ(reap(writer), 128 + SIGKILL) << "round " << round;

        if (!QFile::exists(file())) {
            ASSERT_EQ(last, 0) << "the file vanished in round " << round;
            continue;
        }
        Result<PlistValue> content = stored();
        ASSERT_TRUE(content.ok()) << "round " << round << ": " << content.message();
        const std::int64_t counter = content->intFor("Counter");
        ASSERT_GE(counter, last) << "round " << round;
        ASSERT_EQ(content->get("Payload"), settingsWriterPayload(counter)) << "round " << round;
        last = counter;
    }
    EXPECT_GT(last, 0);
    // A killed writer's lock does not block the next one.
    const pid_t finisher = spawnWriter({"step", sDomain, "1"});
    ASSERT_GT(finisher, 0);
    EXPECT_EQ(reap(finisher), 0);
    EXPECT_EQ(stored()->intFor("Counter"), last + 1);
    // Temporary files of killed writers are gone after that write.
    const QStringList expected = {QString(sDomain) + ".plist", QString(sDomain) + ".plist.lock"};
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

} // namespace
