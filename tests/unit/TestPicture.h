// A picture of a planar 8-bit format in memory of its own, for the tests of
// the picture operations and the frame hooks. Rows are wider than the plane
// (by an odd margin) and the planes are followed by spare rows, so that a
// write past the picture shows in the margins.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "EntryPoints.h"
#include "MediaOps.h"

class TTestPicture {
public:
    static constexpr int Margin = 13;
    static constexpr int SpareRows = 2;
    static constexpr uint8_t MarginValue = 0xEE;

    // Every plane's value at (plane, x, y) comes from `fill`.
    TTestPicture(AVPixelFormat format, int width, int height,
                 const std::function<uint8_t(int, int, int)> &fill = nullptr)
        : Format(format), Width(width), Height(height)
    {
        const AVPixFmtDescriptor *desc = lav::av_pix_fmt_desc_get(format);
        Planes = desc->nb_components;
        for (int p = 0; p < Planes; ++p) {
            const bool chroma = Planes >= 3 && (p == 1 || p == 2);
            PlaneWidth[p] = chroma ? -((-width) >> desc->log2_chroma_w) : width;
            PlaneHeight[p] = chroma ? -((-height) >> desc->log2_chroma_h) : height;
            Picture.linesize[p] = PlaneWidth[p] + Margin;
            Memory[p].assign(size_t(Picture.linesize[p]) * size_t(PlaneHeight[p] + SpareRows), MarginValue);
            Picture.data[p] = Memory[p].data();
            for (int y = 0; y < PlaneHeight[p]; ++y)
                for (int x = 0; x < PlaneWidth[p]; ++x) At(p, x, y) = fill ? fill(p, x, y) : 0;
        }
    }

    uint8_t &At(int plane, int x, int y) { return Picture.data[plane][y * Picture.linesize[plane] + x]; }
    uint8_t At(int plane, int x, int y) const { return Picture.data[plane][y * Picture.linesize[plane] + x]; }
    // True when every byte outside the planes' pictures still holds MarginValue.
    bool MarginsIntact() const
    {
        for (int p = 0; p < Planes; ++p) {
            const int stride = Picture.linesize[p];
            for (size_t i = 0; i < Memory[p].size(); ++i) {
                const int x = int(i % size_t(stride)), y = int(i / size_t(stride));
                const bool inside = x < PlaneWidth[p] && y < PlaneHeight[p];
                if (!inside && Memory[p][i] != MarginValue) return false;
            }
        }
        return true;
    }

    AVPixelFormat Format;
    int Width, Height;
    int Planes = 0;
    int PlaneWidth[4] = {};
    int PlaneHeight[4] = {};
    TPicture Picture;

private:
    std::vector<uint8_t> Memory[4];
};
