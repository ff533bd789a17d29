// LibevdevUinputWriter: the real InputEventWriter, a uinput device made with
// libevdev from the uinput node (normally /dev/uinput).
#pragma once

#include "InputEventWriter.h"

struct libevdev_uinput;

class LibevdevUinputWriter : public InputEventWriter {
public:
    static constexpr const char* kDefaultNode = "/dev/uinput";

    explicit LibevdevUinputWriter(std::string uinputNode = kDefaultNode);
    ~LibevdevUinputWriter() override;
    LibevdevUinputWriter(const LibevdevUinputWriter&) = delete;
    LibevdevUinputWriter& operator=(const LibevdevUinputWriter&) = delete;

    IoStatus create(const std::string& name, std::span<const std::uint16_t> keyCodes) override;
    IoStatus write(std::uint16_t type, std::uint16_t code, std::int32_t value) override;
    const std::string& lastError() const override { return fLastError; }

private:
    IoStatus fail(IoStatus status, std::string message);

    std::string fUinputNode;
    int fFd = -1;
    libevdev_uinput* fDevice = nullptr;
    std::string fLastError;
};
