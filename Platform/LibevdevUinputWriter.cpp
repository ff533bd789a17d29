// LibevdevUinputWriter: creates the uinput keyboard and writes its events.
#include "LibevdevUinputWriter.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <memory>
#include <unistd.h>

namespace {

struct LibevdevFree {
    void operator()(libevdev* device) const { libevdev_free(device); }
};

IoStatus statusForErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return kIoNoDevice;
    case ENOMEM:
        return kIoNoMemory;
    case EBUSY:
        return kIoExclusiveAccess;
    default:
        return kIoError;
    }
}

} // namespace

LibevdevUinputWriter::LibevdevUinputWriter(std::string uinputNode)
    : fUinputNode(std::move(uinputNode)) {}

LibevdevUinputWriter::~LibevdevUinputWriter() {
    if (fDevice) {
        libevdev_uinput_destroy(fDevice);
    }
    if (fFd >= 0) {
        ::close(fFd);
    }
}

IoStatus LibevdevUinputWriter::fail(IoStatus status, std::string message) {
    fLastError = std::move(message);
    return status;
}

IoStatus LibevdevUinputWriter::create(const std::string& name,
                                      std::span<const std::uint16_t> keyCodes) {
    if (fDevice) {
        return kIoSuccess;
    }
    // The node is opened here rather than by libevdev so that a missing or
    // forbidden node is told apart from a device the kernel refuses.
    const int fd = ::open(fUinputNode.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        std::string message = "cannot open " + fUinputNode + ": " + std::strerror(error);
        if (error == ENOENT || error == ENODEV || error == ENXIO) {
            message += " (is the uinput kernel module loaded?)";
        } else if (error == EACCES || error == EPERM) {
            message += " (the user needs write access to it)";
        }
        return fail(statusForErrno(error), std::move(message));
    }

    std::unique_ptr<libevdev, LibevdevFree> description(libevdev_new());
    if (!description) {
        ::close(fd);
        return fail(kIoNoMemory, "cannot describe the uinput device: out of memory");
    }
    libevdev_set_name(description.get(), name.c_str());
    libevdev_set_id_bustype(description.get(), BUS_VIRTUAL);
    libevdev_enable_event_type(description.get(), EV_SYN);
    libevdev_enable_event_type(description.get(), EV_KEY);
    for (const std::uint16_t code : keyCodes) {
        libevdev_enable_event_code(description.get(), EV_KEY, code, nullptr);
    }
    // No EV_REP: the kernel must not repeat keys on its own; the agent sends
    // its repeats itself.

    libevdev_uinput* device = nullptr;
    const int result = libevdev_uinput_create_from_device(description.get(), fd, &device);
    if (result < 0) {
        ::close(fd);
        return fail(statusForErrno(-result), "cannot create the uinput device on " + fUinputNode +
                                                 ": " + std::strerror(-result));
    }
    fFd = fd;
    fDevice = device;
    fLastError.clear();
    return kIoSuccess;
}

IoStatus LibevdevUinputWriter::write(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    if (!fDevice) {
        return fail(kIoNotOpen, "the uinput device is not created");
    }
    const int result = libevdev_uinput_write_event(fDevice, type, code, value);
    if (result < 0) {
        return fail(statusForErrno(-result),
                    std::string("cannot write to the uinput device: ") + std::strerror(-result));
    }
    return kIoSuccess;
}
