// LibevdevUinputWriterTest: the real uinput writer fails cleanly, with a
// status and a reason, where no uinput device can be made; and so does the
// poster built on it.
#include "LibevdevUinputWriter.h"
#include "UinputEventPoster.h"

#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

const std::uint16_t sKeys[] = {KEY_A, KEY_LEFTSHIFT};

TEST(LibevdevUinputWriterTest, MissingNodeIsNoDevice) {
    LibevdevUinputWriter writer("/nonexistent/uinput");
    EXPECT_EQ(writer.create("test keyboard", sKeys), kIoNoDevice);
    EXPECT_NE(writer.lastError().find("/nonexistent/uinput"), std::string::npos);
    EXPECT_NE(writer.lastError().find("uinput kernel module"), std::string::npos);
    EXPECT_EQ(writer.write(EV_KEY, KEY_A, 1), kIoNotOpen);
}

// A node that takes no uinput requests is refused by the kernel's answer, not
// written to as if it were a keyboard.
TEST(LibevdevUinputWriterTest, NodeThatIsNotUinputIsRefused) {
    LibevdevUinputWriter writer("/dev/null");
    const IoStatus status = writer.create("test keyboard", sKeys);
    EXPECT_NE(status, kIoSuccess);
    EXPECT_NE(writer.lastError().find("cannot create the uinput device on /dev/null"),
              std::string::npos)
        << writer.lastError();
    EXPECT_EQ(writer.write(EV_KEY, KEY_A, 1), kIoNotOpen);
}

TEST(LibevdevUinputWriterTest, PosterWithoutUinputFailsEveryPost) {
    UinputEventPoster poster(std::make_unique<LibevdevUinputWriter>("/nonexistent/uinput"));
    EXPECT_EQ(poster.open(), kIoNoDevice);
    EXPECT_EQ(poster.postKey(0x00, true, false), kIoNoDevice);
    EXPECT_EQ(poster.postFlagsChanged(0x20000), kIoNoDevice);
    EXPECT_EQ(poster.postKeyboardEvent(0x38, true), kIoNoDevice);
    EXPECT_EQ(poster.postAuxKey(0), kIoNoDevice);
    EXPECT_EQ(poster.postSystemDefined(10), kIoNoDevice);
    EXPECT_NE(poster.lastError().find("cannot open /nonexistent/uinput"), std::string::npos);
}

} // namespace
