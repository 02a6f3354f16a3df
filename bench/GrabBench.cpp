// What one 96 x 96 screen grab costs, by each way of reading the screen.
// Needs an X display: `make bench` runs it under xvfb-run.
#include "platform/QtScreenGrabber.h"
#include "platform/ScreenGrabber.h"
#ifdef TASSIO_HAVE_XCB
#include "platform/XcbScreenGrabber.h"
#endif

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace {

void grabLoop(benchmark::State& state, const std::function<std::unique_ptr<ScreenGrabber>()>& make)
{
    std::unique_ptr<ScreenGrabber> grabber = make();
    if (!grabber) {
        state.SkipWithError("this grabber is not available here");
        return;
    }
    std::vector<std::uint32_t> buffer(96 * 96);
    int i = 0;
    for (auto _ : state) {
        if (!grabber->grab(i % 200, i % 120, 96, 96, buffer.data(), 96)) {
            state.SkipWithError("a grab failed");
            break;
        }
        ++i;
    }
}

#ifdef TASSIO_HAVE_XCB
xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

void BM_GrabXcbShm(benchmark::State& state)
{
    grabLoop(state, [] { return XcbScreenGrabber::create(qtConnection(), 0, true); });
}
BENCHMARK(BM_GrabXcbShm)->Unit(benchmark::kMicrosecond);

void BM_GrabXcbGetImage(benchmark::State& state)
{
    grabLoop(state, [] { return XcbScreenGrabber::create(qtConnection(), 0, false); });
}
BENCHMARK(BM_GrabXcbGetImage)->Unit(benchmark::kMicrosecond);
#endif

void BM_GrabQt(benchmark::State& state)
{
    grabLoop(state, [] { return std::make_unique<QtScreenGrabber>(); });
}
BENCHMARK(BM_GrabQt)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
