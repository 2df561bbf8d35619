// What the drag watcher costs per pointer event: on the idle path, which every left-button motion
// in the whole system takes while no file drag is in progress, and on the shake path, which each
// pointer sample of a file drag takes. The X11 cases need a display ($DISPLAY) and are skipped
// without one.
#include "Session/UserDefaults.h"
#include "Settings/AppSettings.h"
#include "Triggers/DragWatcher.h"
#include "X11/X11DragInput.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <cmath>

// Xlib after Qt: its macros would break Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace {

class FakeInput : public DragPasteboard, public MouseMonitor {
public:
    qint64 count = 1;
    unsigned buttons = MouseMonitor::leftButton;
    QPointF location;
    Handler handler;

    qint64 changeCount() const override { return count; }
    std::optional<bool> hasFileURLs() override { return true; }
    int addMonitor(Handler h) override {
        handler = std::move(h);
        return 1;
    }
    void removeMonitor(int) override { handler = {}; }
    unsigned pressedMouseButtons() override { return buttons; }
    QPointF mouseLocation() override { return location; }
    void setPointerSampling(bool) override {}
};

// A left-button motion while the pasteboard still holds the last drag's contents (selecting text,
// moving a window): a flag, the button mask and a change-count comparison.
void BM_IdleDraggedEvent(benchmark::State &state) {
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    FakeInput input;
    DragWatcher watcher(input, input, settings);
    watcher.start();
    const MouseEvent event{MouseEvent::Type::leftMouseDragged, 1.0, false};
    for (auto _ : state)
        input.handler(event);
}
BENCHMARK(BM_IdleDraggedEvent);

// One pointer sample of a file drag in shake mode, at the given event rate (Hz): the window then
// holds 0.8 s worth of samples, all walked for reversals. The swings stay below the threshold, so
// the window never empties.
void BM_ShakeSample(benchmark::State &state) {
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    FakeInput input;
    DragWatcher watcher(input, input, settings);
    watcher.start();
    input.count = 2;
    const double rate = double(state.range(0));
    double t = 1.0;
    long i = 0;
    auto sample = [&] {
        t += 1.0 / rate;
        input.location.setX(500 + 15 * std::sin(double(i++) / 7));
        input.handler({MouseEvent::Type::leftMouseDragged, t, false});
    };
    for (int warm = 0; warm < rate; ++warm)
        sample();
    for (auto _ : state)
        sample();
}
BENCHMARK(BM_ShakeSample)->Arg(60)->Arg(1000);

// The real connection: a raw motion with the left button up (as arrives around a press), taken
// off the queue and dropped.
void BM_IdleRawMotionX11(benchmark::State &state) {
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("no X display");
        return;
    }
    int opcode = 0, event = 0, error = 0;
    XQueryExtension(display, "XInputExtension", &opcode, &event, &error);
    XCloseDisplay(display);

    X11DragInput input;
    MemoryUserDefaults defaults;
    AppSettings settings(defaults);
    DragWatcher watcher(input, input, settings);
    watcher.start();
    Display *own = static_cast<Display *>(input.nativeDisplay());
    XEvent motion{};
    motion.xcookie.type = GenericEvent;
    motion.xcookie.extension = opcode;
    motion.xcookie.evtype = XI_RawMotion;
    motion.xcookie.display = own;
    for (auto _ : state) {
        XPutBackEvent(own, &motion);
        input.processEvents();
    }
}
BENCHMARK(BM_IdleRawMotionX11);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
