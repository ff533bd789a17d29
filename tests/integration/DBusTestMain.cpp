// DBusTestMain: the main of the D-Bus backend tests; they need a Qt core
// application for their event loop and D-Bus connections.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
