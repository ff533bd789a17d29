// DBusInterfaceDocTest: the documents and data files that must agree with
// the code: docs/dbus.md quotes the driver interface's XML verbatim (the XML
// is what the host's adaptor is generated from), and the udev rule names
// the device ids of the build.
#include "DeviceIds.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QString>

#ifndef SABLECOIL_SOURCE_DIR
#error "the build passes the source directory"
#endif

namespace {

QString readSource(const char* relative) {
    QFile file(QStringLiteral(SABLECOIL_SOURCE_DIR "/") + QString::fromLatin1(relative));
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << relative;
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

TEST(DBusInterfaceDoc, QuotesTheInterfaceXmlVerbatim) {
    const QString xml = readSource("data/dbus/com.orvix.driver.OrvixSablecoilDriver.xml");
    const QString doc = readSource("docs/dbus.md");
    ASSERT_FALSE(xml.isEmpty());
    EXPECT_TRUE(doc.contains(QStringLiteral("```xml\n") + xml + QStringLiteral("```")))
        << "docs/dbus.md must quote data/dbus/com.orvix.driver.OrvixSablecoilDriver.xml verbatim";
}

TEST(DBusInterfaceDoc, UdevRuleMatchesTheDeviceIds) {
    const QString rules = readSource("data/70-orvix-sablecoil.rules");
    const QRegularExpression match(QString::fromLatin1(
        R"re(ATTR\{idVendor\}=="([0-9a-f]{4})", ATTR\{idProduct\}=="([0-9a-f]{4})")re"));
    QStringList pairs;
    for (auto it = match.globalMatch(rules); it.hasNext();) {
        const auto m = it.next();
        pairs << m.captured(1) + QLatin1Char(':') + m.captured(2);
    }
    const auto hex = [](std::uint16_t id) {
        return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
    };
    EXPECT_EQ(pairs, (QStringList{
                         hex(kSablecoilVendorId) + QLatin1Char(':') + hex(kSablecoilV1ProductId),
                         hex(kSablecoilVendorId) + QLatin1Char(':') + hex(kSablecoilV2ProductId)}));
}

} // namespace
