#include "PictureOps.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "EntryPoints.h"

namespace {

constexpr int Refused = AVERROR(EINVAL);

const AVPixFmtDescriptor *Descriptor(int pixelFormat)
{
    if (pixelFormat < 0 || !lav::av_pix_fmt_desc_get) return nullptr;
    return lav::av_pix_fmt_desc_get(AVPixelFormat(pixelFormat));
}

bool IsChroma(const AVPixFmtDescriptor &desc, int component)
{
    return desc.nb_components >= 3 && !(desc.flags & AV_PIX_FMT_FLAG_RGB) &&
           (component == 1 || component == 2);
}

// Every component in a plane of its own, one byte per sample, not RGB: the
// planar 8-bit YUV family and gray8 (with or without alpha).
bool IsPlanarYuv8(const AVPixFmtDescriptor &desc)
{
    if (desc.flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL |
                      AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_FLOAT))
        return false;
    if (desc.nb_components == 2) return false; // gray with alpha shares one plane
    for (int c = 0; c < desc.nb_components; ++c) {
        const AVComponentDescriptor &comp = desc.comp[c];
        if (comp.plane != c || comp.step != 1 || comp.depth != 8 || comp.shift != 0) return false;
    }
    return true;
}

int CeilShift(int value, int shift) { return -((-value) >> shift); }

struct TPlaneShift {
    int X = 0;
    int Y = 0;
};

TPlaneShift ShiftOf(const AVPixFmtDescriptor &desc, int plane)
{
    if (IsChroma(desc, plane)) return {desc.log2_chroma_w, desc.log2_chroma_h};
    return {};
}

uint8_t ClipByte(int v) { return uint8_t(std::clamp(v, 0, 255)); }

void FillRows(uint8_t *row, int linesize, int x, int y, int w, int h, uint8_t value)
{
    if (w <= 0 || h <= 0) return;
    for (int i = 0; i < h; ++i) memset(row + ptrdiff_t(y + i) * linesize + x, value, size_t(w));
}

// Rebuilds the odd lines of one plane. `dst` may be `src`: the last odd line
// read before it was overwritten is kept aside.
void DeinterlacePlane(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h)
{
    auto line = [&](int y) {
        while (y < 0) y += 2; // reflect onto a line of the same field
        while (y >= h) y -= 2;
        return y;
    };
    const bool inPlace = dst == src;
    std::vector<uint8_t> savedOdd(inPlace ? static_cast<size_t>(w) : 0);
    int savedLine = -1;
    std::vector<uint8_t> out(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        const uint8_t *s = src + ptrdiff_t(y) * srcStride;
        uint8_t *d = dst + ptrdiff_t(y) * dstStride;
        if ((y & 1) == 0) {
            if (!inPlace) memcpy(d, s, size_t(w));
            continue;
        }
        const int ym2 = line(y - 2), yp2 = line(y + 2);
        const uint8_t *m2 =
            (inPlace && ym2 == savedLine) ? savedOdd.data() : src + ptrdiff_t(ym2) * srcStride;
        const uint8_t *m1 = src + ptrdiff_t(line(y - 1)) * srcStride;
        const uint8_t *p1 = src + ptrdiff_t(line(y + 1)) * srcStride;
        const uint8_t *p2 = src + ptrdiff_t(yp2) * srcStride;
        for (int x = 0; x < w; ++x)
            out[size_t(x)] = ClipByte((-m2[x] + 4 * m1[x] + 2 * s[x] + 4 * p1[x] - p2[x] + 4) >> 3);
        if (inPlace) {
            memcpy(savedOdd.data(), s, size_t(w));
            savedLine = y;
        }
        memcpy(d, out.data(), size_t(w));
    }
}

} // namespace

int PictureCrop(TPicture &dst, const TPicture &src, int pixelFormat, int topBand, int leftBand)
{
    const AVPixFmtDescriptor *desc = Descriptor(pixelFormat);
    if (!desc || topBand < 0 || leftBand < 0) return Refused;
    if (desc->flags &
        (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BAYER))
        return Refused;

    TPicture view = src;
    for (int plane = 0; plane < 4; ++plane) {
        // The component that fixes the plane's byte layout: a subsampled
        // chroma component when the plane holds one (a packed group of
        // pixels is as wide as its chroma sample), else any component.
        const AVComponentDescriptor *layout = nullptr;
        bool chroma = false, luma = false;
        for (int c = 0; c < desc->nb_components; ++c) {
            if (desc->comp[c].plane != plane) continue;
            if (IsChroma(*desc, c)) {
                chroma = true;
                layout = &desc->comp[c];
            } else {
                luma = true;
                if (!layout) layout = &desc->comp[c];
            }
        }
        if (!layout || !src.data[plane]) continue;
        int rows = topBand, columns = leftBand;
        if (chroma) {
            if (luma && ((leftBand & ((1 << desc->log2_chroma_w) - 1)) ||
                         (topBand & ((1 << desc->log2_chroma_h) - 1))))
                return Refused;
            rows = topBand >> desc->log2_chroma_h;
            columns = leftBand >> desc->log2_chroma_w;
        }
        view.data[plane] =
            src.data[plane] + ptrdiff_t(rows) * src.linesize[plane] + ptrdiff_t(columns) * layout->step;
    }
    dst = view;
    return 0;
}

int PicturePad(TPicture &dst, const TPicture *src, int height, int width, int pixelFormat, int padTop,
               int padBottom, int padLeft, int padRight, const int color[3])
{
    const AVPixFmtDescriptor *desc = Descriptor(pixelFormat);
    if (!desc || !IsPlanarYuv8(*desc) || (desc->nb_components != 1 && desc->nb_components != 3) || !color)
        return Refused;
    if (padTop < 0 || padBottom < 0 || padLeft < 0 || padRight < 0 || width <= 0 || height <= 0)
        return Refused;
    const int innerWidth = width - padLeft - padRight, innerHeight = height - padTop - padBottom;
    if (innerWidth < 0 || innerHeight < 0) return Refused;
    for (int plane = 0; plane < desc->nb_components; ++plane) {
        if (!dst.data[plane] || (src && !src->data[plane])) return Refused;
    }

    for (int plane = 0; plane < desc->nb_components; ++plane) {
        const TPlaneShift shift = ShiftOf(*desc, plane);
        const int w = CeilShift(width, shift.X), h = CeilShift(height, shift.Y);
        // The inner area of the plane. A chroma sample that covers both pad
        // and inner pixels (odd pads) belongs to the inner area; with a
        // source, the inner area is what the source covers.
        const int x0 = padLeft >> shift.X, y0 = padTop >> shift.Y;
        int x1 = std::max(x0, CeilShift(width - padRight, shift.X));
        int y1 = std::max(y0, CeilShift(height - padBottom, shift.Y));
        uint8_t *d = dst.data[plane];
        const int stride = dst.linesize[plane];
        if (src) {
            x1 = std::min(x1, x0 + CeilShift(innerWidth, shift.X));
            y1 = std::min(y1, y0 + CeilShift(innerHeight, shift.Y));
            for (int y = y0; y < y1; ++y)
                memcpy(d + ptrdiff_t(y) * stride + x0,
                       src->data[plane] + ptrdiff_t(y - y0) * src->linesize[plane], size_t(x1 - x0));
        }
        const uint8_t value = ClipByte(color[plane]);
        FillRows(d, stride, 0, 0, w, y0, value);
        FillRows(d, stride, 0, y1, w, h - y1, value);
        FillRows(d, stride, 0, y0, x0, y1 - y0, value);
        FillRows(d, stride, x1, y0, w - x1, y1 - y0, value);
    }
    return 0;
}

int PictureDeinterlace(TPicture &dst, const TPicture &src, int pixelFormat, int width, int height)
{
    const AVPixFmtDescriptor *desc = Descriptor(pixelFormat);
    if (!desc || !IsPlanarYuv8(*desc) || width <= 0 || height <= 0) return Refused;
    for (int plane = 0; plane < desc->nb_components; ++plane) {
        if (!dst.data[plane] || !src.data[plane]) return Refused;
    }
    for (int plane = 0; plane < desc->nb_components; ++plane) {
        const TPlaneShift shift = ShiftOf(*desc, plane);
        DeinterlacePlane(dst.data[plane], dst.linesize[plane], src.data[plane], src.linesize[plane],
                         CeilShift(width, shift.X), CeilShift(height, shift.Y));
    }
    return 0;
}
