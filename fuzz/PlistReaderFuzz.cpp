// Fuzz target for PlistCodec::read: arbitrary bytes must give a value or an
// error, never a crash, a leak or a hang. Whatever is accepted must write as
// XML and read back as an equal value.
#include "PlistCodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Result<PlistValue> value = PlistCodec::read(bytes);
    if (!value) {
        return 0;
    }
    Result<std::string> xml = PlistCodec::writeXml(*value);
    if (!xml) {
        std::fprintf(stderr, "accepted value cannot be written: %s\n%s\n", xml.message().c_str(),
                     value->debugString().c_str());
        std::abort();
    }
    Result<PlistValue> again = PlistCodec::read(*xml);
    if (!again || *again != *value) {
        std::fprintf(stderr, "round trip differs: %s\nfirst:\n%s\nxml:\n%s\n",
                     again ? "" : again.message().c_str(), value->debugString().c_str(),
                     xml->c_str());
        std::abort();
    }
    return 0;
}
