// One pan step of the picture viewer: drawing only what shows, its cost must
// not depend on the picture's size.

#include "TestBmp.h"

#include "viewers/PictureWindow.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>

static void BM_PanStep(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    char path[] = "/tmp/tassio-bench-view-XXXXXX";
    close(mkstemp(path));
    // An 8-bit picture keeps the 8000 x 8000 file at 64 MB.
    std::vector<uint32_t> palette;
    for (int i = 0; i < 256; ++i)
        palette.push_back(uint32_t(i) * 0x010203u);
    testbmp::save(path, testbmp::pal8(side, side, palette, true, [](int x, int y) { return uint8_t(x ^ y); }));
    PictureWindow* w = PictureWindow::open(0, 0, path, [](const QString&) {});
    if (!w) {
        state.SkipWithError("the picture did not open");
        return;
    }
    w->resize(432, 332);
    QApplication::processEvents();
    int i = 0;
    for (auto _ : state)
        w->scrollRequest(Qt::Horizontal, 4, (i++ % 2) ? 0 : 99);
    delete w;
    std::remove(path);
}
BENCHMARK(BM_PanStep)->Arg(500)->Arg(8000)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
