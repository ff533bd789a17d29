// QuitRequest: SIGTERM and SIGINT as the program's quit request, handled on
// the Qt main loop (the signal handler only writes a byte to a socket pair
// that a QSocketNotifier watches).
#pragma once

#include "Result.h"

#include <functional>

class QuitRequest {
public:
    // Installs the handlers; handler runs on the main loop for each request.
    static Status install(std::function<void()> handler);
};
