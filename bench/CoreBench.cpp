// The core's costs: one swing tick with its paint, and turning a user picture
// into seven frames at several sizes.

#include "TestBmp.h"

#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"
#include "raster/GrabCompositor.h"
#include "swing/FigureFrames.h"
#include "swing/PendulumMotion.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

static void BM_TickAndPaint(benchmark::State& state)
{
    AppSettings settings;
    settings.anchorX = 500;
    settings.anchorY = 300;
    PendulumMotion motion;
    FigureFrames frames(motion.sinTable, motion.cosTable);
    frames.loadBuiltInFigure(0);
    GrabCompositor compositor;
    compositor.setFrames(frames.frames(), frames.masks(), FigureFrames::kFrameCount);
    WindowRect rect { 500, 428, 595, 523 };
    compositor.composeFrame(3, rect.left, rect.top);
    for (auto _ : state) {
        rect = motion.tick(settings, rect);
        const Bitmap& out = compositor.composeFrame(motion.frameIndex(), rect.left, rect.top);
        benchmark::DoNotOptimize(out.colourRow(0));
    }
}
BENCHMARK(BM_TickAndPaint);

static void BM_LoadPictureFigure(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    char path[] = "/tmp/tassio-bench-XXXXXX";
    int fd = mkstemp(path);
    close(fd);
    testbmp::save(path, testbmp::rgb24(side, side, [](int x, int y) {
        return uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | uint32_t((x ^ y) & 0xFF);
    }));
    PendulumMotion motion;
    FigureFrames frames(motion.sinTable, motion.cosTable);
    for (auto _ : state)
        benchmark::DoNotOptimize(frames.loadPictureFigure(path));
    std::remove(path);
    state.counters["megapixels"] = double(side) * side / 1e6;
}
BENCHMARK(BM_LoadPictureFigure)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);

// Reading a settings file with many pictures: linear in its lines.
static void BM_ReadSettings(benchmark::State& state)
{
    char path[] = "/tmp/tassio-bench-ini-XXXXXX";
    int fd = mkstemp(path);
    std::string text = "640,455,100,128,64,1,4,1,0,NULL NULL\n";
    for (int i = 0; i < state.range(0); ++i)
        text += "/home/user/pictures/picture" + std::to_string(i) + ".bmp name" + std::to_string(i) + "\n";
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        state.SkipWithError("cannot write the settings file");
    close(fd);
    for (auto _ : state) {
        AppSettings s;
        readSettingsFile(path, s);
        benchmark::DoNotOptimize(s.pictures.count());
    }
    std::remove(path);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadSettings)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

BENCHMARK_MAIN();
