// SettingsWriter: a helper process for the settings tests and the soak script.
//
//   SettingsWriter keys <domain> <prefix> <count>   writes <prefix><i> = i, one key per write
//   SettingsWriter step <domain> [writes]           keeps writing Counter = n+1 and its Payload
//   SettingsWriter check <domain>                   checks that the stored Payload matches
//                                                   Counter; prints Counter
//
// The domain lives in $XDG_CONFIG_HOME/sablecoil as usual. Exit status 0 on
// success, 1 on a failed write or an inconsistent file, 2 on a file that does
// not parse, 3 on bad arguments.
#include "PlistCodec.h"
#include "SettingsDomain.h"
#include "SettingsWriterPayload.h"

#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int writeKeys(SettingsDomain& domain, const std::string& prefix, int count) {
    for (int i = 0; i < count; ++i) {
        if (Status s = domain.setValue(prefix + std::to_string(i), PlistValue::int32(i)); !s) {
            std::fprintf(stderr, "SettingsWriter: %s\n", s.message().c_str());
            return 1;
        }
    }
    return 0;
}

int step(SettingsDomain& domain, long writes) {
    for (long i = 0; writes < 0 || i < writes; ++i) {
        const std::int64_t next = domain.copyValue("Counter").toInt64() + 1;
        PlistValue entries = PlistValue::dictionary(
            {{"Counter", PlistValue::int64(next)}, {"Payload", settingsWriterPayload(next)}});
        if (Status s = domain.setMultiple(entries); !s) {
            std::fprintf(stderr, "SettingsWriter: %s\n", s.message().c_str());
            return 1;
        }
    }
    return 0;
}

int check(const SettingsDomain& domain) {
    QFile file(domain.filePath());
    if (!file.exists()) {
        std::printf("0\n");
        return 0;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "SettingsWriter: cannot open %s\n", qPrintable(domain.filePath()));
        return 2;
    }
    const QByteArray bytes = file.readAll();
    Result<PlistValue> value =
        PlistCodec::readDictionary(std::string_view(bytes.constData(), bytes.size()));
    if (!value) {
        std::fprintf(stderr, "SettingsWriter: %s: %s\n", qPrintable(domain.filePath()),
                     value.message().c_str());
        return 2;
    }
    const std::int64_t counter = value->intFor("Counter");
    if (counter != 0 && value->get("Payload") != settingsWriterPayload(counter)) {
        std::fprintf(stderr, "SettingsWriter: Payload does not match Counter %lld\n",
                     static_cast<long long>(counter));
        return 1;
    }
    std::printf("%lld\n", static_cast<long long>(counter));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: SettingsWriter keys|step|check <domain> ...\n");
        return 3;
    }
    const std::string mode = argv[1];
    SettingsDomain domain(QString::fromLocal8Bit(argv[2]));
    if (mode == "keys" && argc == 5) {
        return writeKeys(domain, argv[3], std::atoi(argv[4]));
    }
    if (mode == "step") {
        return step(domain, argc > 3 ? std::atol(argv[3]) : -1);
    }
    if (mode == "check") {
        return check(domain);
    }
    std::fprintf(stderr, "SettingsWriter: bad arguments\n");
    return 3;
}
