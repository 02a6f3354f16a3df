#include "raster/Raster.h"

#include "raster/Bitmap.h"
#include "raster/MemoryDC.h"

#include <algorithm>
#include <vector>

namespace {

struct Clip {
    int x, y, sx, sy, w, h;
};

// Trims a w x h transfer so that it lies inside both bitmaps.
bool clipTransfer(const Bitmap& dst, const Bitmap& src, Clip& c)
{
    if (c.w <= 0 || c.h <= 0)
        return false;
    int64_t x = c.x, y = c.y, sx = c.sx, sy = c.sy, w = c.w, h = c.h;
    auto trimLow = [](int64_t& a, int64_t& b, int64_t& len) {
        int64_t cut = std::max<int64_t>({ 0, -a, -b });
        a += cut;
        b += cut;
        len -= cut;
    };
    trimLow(x, sx, w);
    trimLow(y, sy, h);
    w = std::min({ w, dst.width() - x, src.width() - sx });
    h = std::min({ h, dst.height() - y, src.height() - sy });
    if (w <= 0 || h <= 0)
        return false;
    c = { int(x), int(y), int(sx), int(sy), int(w), int(h) };
    return true;
}

template <typename T>
inline T combine(uint32_t rop, T d, T s, T all)
{
    switch (rop) {
    case SRCCOPY: return s;
    case NOTSRCCOPY: return T(~s & all);
    case SRCAND: return T(d & s);
    default: return T(d | s); // SRCPAINT
    }
}

bool knownRop(uint32_t rop)
{
    return rop == SRCCOPY || rop == NOTSRCCOPY || rop == SRCAND || rop == SRCPAINT;
}

// One loop per operation and conversion, with the operation fixed at compile
// time and no aliasing between the rows, so that the compiler vectorises them.
template <uint32_t Rop>
void colourFromColour(uint32_t* __restrict out, const uint32_t* __restrict in, int n)
{
    for (int i = 0; i < n; ++i)
        out[i] = combine<uint32_t>(Rop, out[i], in[i], 0xFFFFFFu);
}

template <uint32_t Rop>
void colourFromMono(uint32_t* __restrict out, const uint8_t* __restrict in, int n, uint32_t one, uint32_t zero)
{
    for (int i = 0; i < n; ++i)
        out[i] = combine<uint32_t>(Rop, out[i], in[i] ? one : zero, 0xFFFFFFu);
}

template <uint32_t Rop>
void monoFromMono(uint8_t* __restrict out, const uint8_t* __restrict in, int n)
{
    for (int i = 0; i < n; ++i)
        out[i] = combine<uint8_t>(Rop, out[i], in[i], 1);
}

template <uint32_t Rop>
void monoFromColour(uint8_t* __restrict out, const uint32_t* __restrict in, int n, uint32_t back)
{
    for (int i = 0; i < n; ++i)
        out[i] = combine<uint8_t>(Rop, out[i], uint8_t(in[i] == back), 1);
}

template <uint32_t Rop>
void blitRows(Bitmap& d, const Bitmap& s, const Clip& c, uint32_t srcBack, uint32_t dstBack, uint32_t dstText)
{
    for (int row = 0; row < c.h; ++row) {
        if (!d.isMonochrome()) {
            uint32_t* out = d.colourRow(c.y + row) + c.x;
            if (!s.isMonochrome())
                colourFromColour<Rop>(out, s.colourRow(c.sy + row) + c.sx, c.w);
            else
                colourFromMono<Rop>(out, s.monoRow(c.sy + row) + c.sx, c.w, dstBack, dstText);
        } else {
            uint8_t* out = d.monoRow(c.y + row) + c.x;
            if (s.isMonochrome())
                monoFromMono<Rop>(out, s.monoRow(c.sy + row) + c.sx, c.w);
            else
                monoFromColour<Rop>(out, s.colourRow(c.sy + row) + c.sx, c.w, srcBack);
        }
    }
}

// For each destination index along one axis: the source indices it covers.
// In units where a destination pixel is srcLen long and a source pixel dstLen
// long, destination i starts at lo = i * srcLen and source j at j * dstLen.
struct Span {
    int count;
    int source;                  // first source index
    int64_t lo;
};

// The overlaps are computed where they are used rather than kept in a table:
// a table holds one entry per source pixel, which for a picture a hundred
// million pixels wide is far more memory than its own file.
struct Axis {
    int dstLen, srcOrigin, srcLen, srcLimit;

    uint64_t weight(const Span& sp, int source) const
    {
        int64_t j = int64_t { source } - srcOrigin;
        return static_cast<uint64_t>(std::min(sp.lo + srcLen, (j + 1) * dstLen) - std::max(sp.lo, j * dstLen));
    }
};

void boxSpans(const Axis& a, std::vector<Span>& spans)
{
    spans.assign(static_cast<std::size_t>(a.dstLen), Span { 0, 0, 0 });
    for (int i = 0; i < a.dstLen; ++i) {
        int64_t lo = int64_t { i } * a.srcLen, hi = lo + a.srcLen;
        int64_t j0 = lo / a.dstLen, j1 = (hi + a.dstLen - 1) / a.dstLen;
        Span& sp = spans[static_cast<std::size_t>(i)];
        sp.lo = lo;
        sp.source = -1;
        for (int64_t j = j0; j < j1; ++j) {
            int64_t src = a.srcOrigin + j;
            int64_t overlap = std::min(hi, (j + 1) * a.dstLen) - std::max(lo, j * a.dstLen);
            if (overlap <= 0 || src < 0 || src >= a.srcLimit)
                continue;
            if (sp.source < 0)
                sp.source = static_cast<int>(src);
            // Source indices are consecutive, so a count is enough.
            ++sp.count;
        }
    }
}

} // namespace

bool bitBlt(MemoryDC& dst, int x, int y, int w, int h, MemoryDC& src, int sx, int sy, uint32_t rop)
{
    Bitmap* d = dst.bitmap();
    Bitmap* s = src.bitmap();
    if (!d || !s || !knownRop(rop))
        return false;
    Clip c { x, y, sx, sy, w, h };
    if (!clipTransfer(*d, *s, c))
        return true;
    uint32_t srcBack = src.backgroundColour(), dstBack = dst.backgroundColour(), dstText = dst.textColour();
    switch (rop) {
    case SRCCOPY: blitRows<SRCCOPY>(*d, *s, c, srcBack, dstBack, dstText); break;
    case NOTSRCCOPY: blitRows<NOTSRCCOPY>(*d, *s, c, srcBack, dstBack, dstText); break;
    case SRCAND: blitRows<SRCAND>(*d, *s, c, srcBack, dstBack, dstText); break;
    default: blitRows<SRCPAINT>(*d, *s, c, srcBack, dstBack, dstText); break;
    }
    return true;
}

bool stretchRows(Bitmap& dst, int x, int y, int w, int h, int srcWidth, int srcHeight, int sx, int sy, int sw,
                 int sh, const RowSource& rowAt, uint32_t rop)
{
    if (dst.isMonochrome() || !knownRop(rop))
        return false;
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0)
        return true;

    const Axis ax { w, sx, sw, srcWidth }, ay { h, sy, sh, srcHeight };
    std::vector<Span> xs, ys;
    boxSpans(ax, xs);
    boxSpans(ay, ys);

    // Each source row is fetched and filtered horizontally once; neighbouring
    // destination rows share at most their boundary row, which stays cached.
    std::vector<uint64_t> acc(static_cast<std::size_t>(w) * 4);
    std::vector<uint64_t> filtered(static_cast<std::size_t>(w) * 4);
    int cachedRow = -1;
    for (int i = 0; i < h; ++i) {
        int dy = y + i;
        if (dy < 0 || dy >= dst.height())
            continue;
        const Span& vy = ys[static_cast<std::size_t>(i)];
        std::fill(acc.begin(), acc.end(), 0);
        for (int k = 0; k < vy.count; ++k) {
            int sourceRow = vy.source + k;
            if (sourceRow != cachedRow) {
                const uint32_t* row = rowAt(sourceRow);
                for (int j = 0; j < w; ++j) {
                    const Span& vx = xs[static_cast<std::size_t>(j)];
                    uint64_t r = 0, g = 0, b = 0, total = 0;
                    for (int m = 0; m < vx.count; ++m) {
                        uint64_t weight = ax.weight(vx, vx.source + m);
                        uint32_t p = row[vx.source + m];
                        r += weight * (p >> 16 & 0xFF);
                        g += weight * (p >> 8 & 0xFF);
                        b += weight * (p & 0xFF);
                        total += weight;
                    }
                    uint64_t* f = &filtered[static_cast<std::size_t>(j) * 4];
                    f[0] = r;
                    f[1] = g;
                    f[2] = b;
                    f[3] = total;
                }
                cachedRow = sourceRow;
            }
            uint64_t weightY = ay.weight(vy, vy.source + k);
            for (std::size_t n = 0; n < acc.size(); ++n)
                acc[n] += filtered[n] * weightY;
        }
        uint32_t* out = dst.colourRow(dy);
        for (int j = 0; j < w; ++j) {
            int dx = x + j;
            const uint64_t* a = &acc[static_cast<std::size_t>(j) * 4];
            if (dx < 0 || dx >= dst.width() || a[3] == 0)
                continue;
            uint64_t half = a[3] / 2;
            uint32_t p = uint32_t((a[0] + half) / a[3]) << 16 | uint32_t((a[1] + half) / a[3]) << 8
                | uint32_t((a[2] + half) / a[3]);
            out[dx] = combine<uint32_t>(rop, out[dx], p, 0xFFFFFFu);
        }
    }
    return true;
}

bool stretchBlt(MemoryDC& dst, int x, int y, int w, int h, MemoryDC& src, int sx, int sy, int sw, int sh,
                uint32_t rop)
{
    Bitmap* d = dst.bitmap();
    const Bitmap* s = src.bitmap();
    if (!d || !s || s->isMonochrome())
        return false;
    return stretchRows(*d, x, y, w, h, s->width(), s->height(), sx, sy, sw, sh,
                       [s](int row) { return s->colourRow(row); }, rop);
}

uint32_t getPixel(const MemoryDC& dc, int x, int y)
{
    const Bitmap* b = dc.bitmap();
    if (!b || x < 0 || y < 0 || x >= b->width() || y >= b->height())
        return CLR_INVALID;
    uint32_t p = b->pixel(x, y);
    if (b->isMonochrome())
        return p ? 0xFFFFFFu : 0u;
    return p;
}

bool setPixel(MemoryDC& dc, int x, int y, uint32_t colour)
{
    Bitmap* b = dc.bitmap();
    if (!b || x < 0 || y < 0 || x >= b->width() || y >= b->height())
        return false;
    if (b->isMonochrome())
        b->setPixel(x, y, colour == 0xFFFFFFu ? 1 : 0);
    else
        b->setPixel(x, y, colour);
    return true;
}
