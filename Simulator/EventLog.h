// EventLog: the simulator's sink of synthetic input events. Every posted
// event is kept as posted, in order, and printed in one fixed line format:
//   keydown 0xCODE repeat=0|1     keyup 0xCODE
//   flags 0xFLAGS                 keyboard 0xCODE down|up
//   aux 0xCODE                    sysdefined SUBTYPE
// Only the last kDefaultLimit events are kept, so that a runaway key repeat
// cannot use up the simulator's memory.
#pragma once

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <deque>

class EventLog {
public:
    static constexpr std::size_t kDefaultLimit = 100000;

    enum class Kind : std::uint8_t { KeyDown, KeyUp, Flags, Keyboard, Aux, SystemDefined };

    struct Event {
        Kind kind = Kind::KeyDown;
        std::uint32_t value = 0; // key code, flags or subtype
        bool mark = false;       // repeat (key down) or down (keyboard)
    };

    explicit EventLog(std::size_t limit = kDefaultLimit) : fLimit(limit) {}

    void postKey(std::uint8_t keyCode, bool down, bool repeat);
    void postFlags(std::uint32_t flags);
    void postKeyboard(std::uint8_t keyCode, bool down);
    void postAux(std::uint8_t keyCode);
    void postSystemDefined(std::uint8_t subtype);

    std::size_t size() const { return fEvents.size(); }
    // The kept events as lines, oldest first; clear empties the log afterwards.
    QStringList lines(bool clear);

    static QString format(const Event& event);

private:
    void append(const Event& event);

    std::size_t fLimit;
    std::deque<Event> fEvents;
};
