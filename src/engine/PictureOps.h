// The engine's own picture operations: crop and pad views for the video path
// and the deinterlacer of the pre-processing step. Pure functions on plane
// pointers; the pixel-format layout comes from the libraries' descriptors
// (lav::av_pix_fmt_desc_get), so the libraries must be loaded. Any thread.
#pragma once

#include "MediaOps.h"

// Makes `dst` a view of `src` without its first `topBand` rows and
// `leftBand` columns: the plane pointers move by the offsets the pixel format
// gives (chroma planes by the chroma-shifted bands, rounded down), the line
// sizes stay. Nothing is copied; `dst` lives as long as `src`'s pixels.
// Returns 0, or a negative value for negative bands, an unknown format, a
// bitstream, paletted, Bayer or hardware format, or a left band that splits a
// packed group of pixels (yuyv422 with an odd band).
int PictureCrop(TPicture &dst, const TPicture &src, int pixelFormat, int topBand, int leftBand);

// Pads the picture `dst` of width x height: every pixel of the bands
// padTop, padBottom, padLeft and padRight of each plane is painted with
// color (Y, Cb, Cr, each 0..255); chroma bands are the chroma-shifted ones.
// With a `src` (of (width - padLeft - padRight) x (height - padTop -
// padBottom)), it is copied into the inner area first; without one the inner
// area is left as it is (a scaler already wrote it); `src` must not overlap
// `dst`. Returns 0, or a negative
// value for formats other than planar 8-bit YUV (three planes) or gray8, for
// negative pads, or pads wider or taller than the picture.
int PicturePad(TPicture &dst, const TPicture *src, int height, int width, int pixelFormat, int padTop,
               int padBottom, int padLeft, int padRight, const int color[3]);

// Deinterlaces `src` (width x height) into `dst` of the same size: each plane
// keeps its even lines and rebuilds every odd line from its neighbours with
// the vertical low-pass (-1, 4, 2, 4, -1) / 8. `dst` may be `src` itself.
// Returns 0, or a negative value for formats other than planar 8-bit YUV or
// gray (yuv420p, yuv422p, yuv444p, yuv410p, yuv411p, yuv440p, their yuvj and
// yuva forms, gray8) and for an empty size.
int PictureDeinterlace(TPicture &dst, const TPicture &src, int pixelFormat, int width, int height);
