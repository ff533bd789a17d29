// ButtonMappingOwner: what a ButtonMapping needs of the object that holds it
// (the application's preferences controller). The owner approves map type
// changes and is told of every change so it can re-encode its records.
#pragma once

class ButtonMapping;

class ButtonMappingOwner {
public:
    virtual ~ButtonMappingOwner() = default;

    // Whether mapping may take mapType (asked before setMapType stores it).
    virtual bool isValidMapTypeForMapping(int mapType, const ButtonMapping& mapping) = 0;

    // Called after a mapping's type, text or on-the-fly option changed.
    virtual void notifyMappingPrefsChange() = 0;

protected:
    ButtonMappingOwner() = default;
    ButtonMappingOwner(const ButtonMappingOwner&) = default;
    ButtonMappingOwner& operator=(const ButtonMappingOwner&) = default;
};
