// Timing of the agent's driver message dispatcher, run in-process over
// in-memory platform services with an event poster that stamps every post on
// the steady clock:
//  - from a driver message reaching the agent to its first posted event, for
//    a held key and for a command;
//  - how far a macro's 50 ms short pause strays from 50 ms;
//  - how far the key repeat strays from its 500 ms first delay and its 80 ms
//    interval.
// The deviation benchmarks run a fixed number of firings and report the
// median and the worst (largest absolute) deviation in microseconds as
// counters; a positive deviation is late.
#include "Application.h"
#include "CallBacks.h"
#include "DeviceIds.h"
#include "EventPoster.h"
#include "FakePlatform.h"
#include "HidUtils.h"
#include "Preferences.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;

const ServiceHandle kInstance = "/com/orvix/driver/OrvixSablecoilDriver/1";

// ---- In-memory platform services -------------------------------------------

// Stamps every post: the first one since the last clear(), each key press
// that is not a repeat, and each repeat (after which onRepeat runs). The
// stamp is taken before anything else the post does.
class StampingEvents : public EventPoster {
public:
    StampingEvents() {
        keyDowns.reserve(1024);
        repeats.reserve(1024);
    }
    IoStatus open() override { return kIoSuccess; }
    IoStatus postKey(std::uint8_t, bool down, bool repeat) override {
        const Clock::time_point now = stamp();
        if (down && repeat) {
            repeats.push_back(now);
            if (onRepeat) {
                onRepeat();
            }
        } else if (down) {
            keyDowns.push_back(now);
        }
        return kIoSuccess;
    }
    IoStatus postFlagsChanged(std::uint32_t) override { return stampOnly(); }
    IoStatus postKeyboardEvent(std::uint8_t, bool) override { return stampOnly(); }
    IoStatus postAuxKey(std::uint8_t) override { return stampOnly(); }
    IoStatus postSystemDefined(std::uint8_t) override { return stampOnly(); }

    void clear() {
        hasFirst = false;
        keyDowns.clear();
        repeats.clear();
    }

    bool hasFirst = false;
    Clock::time_point first;
    std::vector<Clock::time_point> keyDowns;
    std::vector<Clock::time_point> repeats;
    std::function<void()> onRepeat;

private:
    Clock::time_point stamp() {
        const Clock::time_point now = Clock::now();
        if (!hasFirst) {
            hasFirst = true;
            first = now;
        }
        return now;
    }
    IoStatus stampOnly() {
        stamp();
        return kIoSuccess;
    }
};

// The tests' in-memory services, one driver instance of the second
// generation, with the stamping poster in place of the recording one.
class BenchPlatform : public FakePlatform {
public:
    BenchPlatform() { fRegistry.add(kInstance, kSablecoilVendorId, kSablecoilV2ProductId); }
    EventPoster& events() override { return fStamping; }

    StampingEvents fStamping;
};

// ---- The agent under measurement -------------------------------------------

std::uint32_t Word(std::uint32_t w, std::uint32_t u, std::uint32_t flags) {
    return w | u << 8 | flags << 16;
}

PlistValue Record(std::uint8_t type, std::string_view text) {
    PlistValue::Data bytes{type};
    bytes.insert(bytes.end(), text.begin(), text.end());
    return PlistValue::data(std::move(bytes));
}

// The agent's singleton with a settings store in a scratch configuration
// directory, the instance in use chosen, and input 0 given one record.
class Agent {
public:
    Agent(std::uint8_t type, std::string_view text) {
        qputenv("XDG_CONFIG_HOME", fConfig.path().toUtf8());
        Application* app = Application::GetApp();
        app->SetSablecoil(FindSablecoil("", false));
        app->fHidSystem = FindHidSystem();
        app->fPreferences = std::make_unique<Preferences>();
        app->fPreferences->InitPrefs();
        app->fPreferences->ReadPrefs();
        app->fPreferences->fMappingArray.items()[0] = Record(type, text);
        fPlatform.fStamping.clear();
    }
    ~Agent() {
        ReleaseHeldKey();
        Application::GetApp()->fPreferences.reset();
        Application::GetApp()->fSablecoil.clear();
        DeleteStoppedTimers();
    }
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    bool ready() const { return fConfig.isValid() && !Application::GetApp()->fSablecoil.empty(); }
    StampingEvents& events() { return fPlatform.fStamping; }

    // The stopped repeat timers are deleted later; outside an event loop
    // that has to be asked for. The other posted events go first so that the
    // queue does not grow from one iteration to the next.
    static void DeleteStoppedTimers() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private:
    QTemporaryDir fConfig;
    BenchPlatform fPlatform;
};

struct Deviation {
    double median = 0.0;
    double worst = 0.0; // largest absolute value
};

Deviation Summarise(std::vector<double> samples) {
    Deviation d;
    if (samples.empty()) {
        return d;
    }
    for (double s : samples) {
        d.worst = std::max(d.worst, std::fabs(s));
    }
    const std::size_t mid = samples.size() / 2;
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(mid),
                     samples.end());
    d.median = samples[mid];
    if (samples.size() % 2 == 0) {
        const double below =
            *std::max_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(mid));
        d.median = (d.median + below) / 2.0;
    }
    return d;
}

// ---- 1. Driver message to the first posted event -----------------------------

// One message per iteration; the reported time is from handing the message
// in to the first post. After each press the key is released so that its
// repeat timer is stopped (outside the measured span).
void MessageToFirstEvent(benchmark::State& state, std::string_view text) {
    Agent agent(3, text);
    if (!agent.ready()) {
        state.SkipWithError("the agent could not be set up");
        return;
    }
    StampingEvents& events = agent.events();
    for (auto _ : state) {
        events.clear();
        const Clock::time_point start = Clock::now();
        DriverNotifProc(kInstance, Word(0, 0, 0));
        if (!events.hasFirst) {
            state.SkipWithError("the message posted nothing");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(events.first - start).count());
        DriverNotifProc(kInstance, Word(0, 0, 0x10));
        Agent::DeleteStoppedTimers();
    }
}

// A held key (A).
void BM_MessageToFirstEvent_Key(benchmark::State& state) {
    MessageToFirstEvent(state, "512");
}
BENCHMARK(BM_MessageToFirstEvent_Key)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A command (F12).
void BM_MessageToFirstEvent_Command(benchmark::State& state) {
    MessageToFirstEvent(state, "11776");
}
BENCHMARK(BM_MessageToFirstEvent_Command)->UseManualTime()->Unit(benchmark::kMicrosecond);

// ---- 2. The macro's short pause ----------------------------------------------

constexpr int kPauseFirings = 300;
constexpr Micros kShortPause = std::chrono::milliseconds(50);

// Each iteration plays "short pause, A down"; the deviation is the time from
// handing the message in to A down, less 50 ms. The reported time per
// iteration is that whole span.
void BM_MacroShortPauseDeviation(benchmark::State& state) {
    Agent agent(4, "1024,512");
    if (!agent.ready()) {
        state.SkipWithError("the agent could not be set up");
        return;
    }
    StampingEvents& events = agent.events();
    std::vector<double> deviations;
    deviations.reserve(kPauseFirings);
    for (auto _ : state) {
        events.clear();
        const Clock::time_point start = Clock::now();
        DriverNotifProc(kInstance, Word(0, 0, 0));
        if (events.keyDowns.size() != 1) {
            state.SkipWithError("the macro did not press A once");
            break;
        }
        const Micros span = events.keyDowns.front() - start;
        state.SetIterationTime(std::chrono::duration<double>(span).count());
        deviations.push_back((span - kShortPause).count());
    }
    const Deviation d = Summarise(std::move(deviations));
    state.counters["median_us"] = d.median;
    state.counters["worst_us"] = d.worst;
}
BENCHMARK(BM_MacroShortPauseDeviation)
    ->Iterations(kPauseFirings)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- 3. The key repeat ------------------------------------------------------

constexpr int kRepeatPresses = 50;
constexpr int kIntervalsPerPress = 6; // 300 intervals in all
constexpr Micros kFirstRepeat = std::chrono::milliseconds(500);
constexpr Micros kRepeatInterval = std::chrono::milliseconds(80);
// A press whose repeats have not all come by then counts as a failure.
constexpr int kRepeatTimeoutMs = 5000;

// One iteration: kRepeatPresses presses of A, each held in the Qt event loop
// until its first repeat and kIntervalsPerPress more have been posted, then
// released. The deviation of the first repeat is measured from handing the
// press in, less 500 ms; that of each later repeat from the one before, less
// 80 ms.
void BM_KeyRepeatDeviation(benchmark::State& state) {
    Agent agent(3, "512");
    if (!agent.ready()) {
        state.SkipWithError("the agent could not be set up");
        return;
    }
    StampingEvents& events = agent.events();
    std::vector<double> first;
    std::vector<double> intervals;
    for (auto _ : state) {
        first.clear();
        intervals.clear();
        for (int press = 0; press < kRepeatPresses; ++press) {
            events.clear();
            QEventLoop loop;
            events.onRepeat = [&] {
                if (events.repeats.size() == kIntervalsPerPress + 1) {
                    loop.quit();
                }
            };
            QTimer::singleShot(kRepeatTimeoutMs, &loop, [&loop] { loop.exit(1); });
            const Clock::time_point start = Clock::now();
            DriverNotifProc(kInstance, Word(0, 0, 0));
            const int timedOut = loop.exec();
            DriverNotifProc(kInstance, Word(0, 0, 0x10));
            events.onRepeat = nullptr;
            Agent::DeleteStoppedTimers();
            if (timedOut != 0) {
                state.SkipWithError("the key did not repeat in time");
                return;
            }
            first.push_back((Micros(events.repeats[0] - start) - kFirstRepeat).count());
            for (std::size_t i = 1; i < events.repeats.size(); ++i) {
                intervals.push_back(
                    (Micros(events.repeats[i] - events.repeats[i - 1]) - kRepeatInterval).count());
            }
        }
    }
    const Deviation f = Summarise(first);
    const Deviation i = Summarise(intervals);
    state.counters["first_median_us"] = f.median;
    state.counters["first_worst_us"] = f.worst;
    state.counters["interval_median_us"] = i.median;
    state.counters["interval_worst_us"] = i.worst;
    state.counters["intervals"] = static_cast<double>(intervals.size());
}
BENCHMARK(BM_KeyRepeatDeviation)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace

// Qt's timers need an application object; the offscreen platform unless the
// environment picks another one.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
