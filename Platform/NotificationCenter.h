// NotificationCenter: broadcast notifications between the processes of the
// user: a name, an object string and a user-information dictionary. Carried
// by the signal Notification(s name, s object, a{sv} userInfo) of interface
// com.orvix.DistributedNotificationCenter at /com/orvix/DistributedNotificationCenter
// on the session bus.
#pragma once

#include "PlistValue.h"
#include "Result.h"

#include <functional>
#include <string>

class NotificationCenter {
public:
    using Handler = std::function<void(const std::string& name, const std::string& object,
                                       const PlistValue& userInfo)>;

    virtual ~NotificationCenter() = default;

    virtual Status post(const std::string& name, const std::string& object,
                        const PlistValue& userInfo) = 0;
    // Calls handler on the main loop for every notification with that name
    // and object; returns a token for removeObserver.
    virtual int addObserver(const std::string& name, const std::string& object,
                            Handler handler) = 0;
    virtual void removeObserver(int token) = 0;
};
