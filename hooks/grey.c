/*
 * grey.so: a frame-hook module that turns every picture grey.
 *
 * Build (the project's build puts it in build/bin/hooks/grey.so):
 *     cc -shared -fPIC -O2 -I<vidmorph>/include -o grey.so grey.c
 *
 * Use (it takes no arguments, so it has no Configure):
 *     vidmorph-cli -i in.mp4 -vhook /path/to/grey.so out.mp4
 *
 * On planar 8-bit YUV the chroma planes are set to 128 and the luma is kept;
 * rgb24 and bgr24 pixels become their BT.601 luma. Other formats pass
 * unchanged (gray8 already is grey).
 */
#include <stddef.h>
#include <string.h>

#include "vidmorph/framehook.h"

static int ChromaShifts(int pix_fmt, int *sx, int *sy)
{
    switch (pix_fmt) {
    case VM_PIX_FMT_YUV420P:
    case VM_PIX_FMT_YUVJ420P:
        *sx = 1;
        *sy = 1;
        return 1;
    case VM_PIX_FMT_YUV422P:
    case VM_PIX_FMT_YUVJ422P:
        *sx = 1;
        *sy = 0;
        return 1;
    case VM_PIX_FMT_YUV444P:
    case VM_PIX_FMT_YUVJ444P:
        *sx = 0;
        *sy = 0;
        return 1;
    case VM_PIX_FMT_YUV440P:
    case VM_PIX_FMT_YUVJ440P:
        *sx = 0;
        *sy = 1;
        return 1;
    case VM_PIX_FMT_YUV410P:
        *sx = 2;
        *sy = 2;
        return 1;
    case VM_PIX_FMT_YUV411P:
        *sx = 2;
        *sy = 0;
        return 1;
    default: return 0;
    }
}

void Process(void *ctx, VMPicture *picture, int pix_fmt, int width, int height, int64_t pts_us)
{
    int sx, sy, x, y;
    (void)ctx;
    (void)pts_us;
    if (width <= 0 || height <= 0) return;
    if (ChromaShifts(pix_fmt, &sx, &sy)) {
        const int cw = (width + (1 << sx) - 1) >> sx, ch = (height + (1 << sy) - 1) >> sy;
        int plane;
        for (plane = 1; plane <= 2; ++plane)
            for (y = 0; y < ch; ++y)
                memset(picture->data[plane] + (ptrdiff_t)y * picture->linesize[plane], 128, (size_t)cw);
    } else if (pix_fmt == VM_PIX_FMT_RGB24 || pix_fmt == VM_PIX_FMT_BGR24) {
        /* Luma weights for R, G, B in the order the bytes stand. */
        const int w0 = pix_fmt == VM_PIX_FMT_RGB24 ? 19595 : 7471,
                  w2 = pix_fmt == VM_PIX_FMT_RGB24 ? 7471 : 19595;
        for (y = 0; y < height; ++y) {
            unsigned char *p = picture->data[0] + (ptrdiff_t)y * picture->linesize[0];
            for (x = 0; x < width; ++x, p += 3) {
                const unsigned char l = (unsigned char)((w0 * p[0] + 38470 * p[1] + w2 * p[2] + 32768) >> 16);
                p[0] = p[1] = p[2] = l;
            }
        }
    }
}
