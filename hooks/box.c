/*
 * box.so: a frame-hook module that draws a filled box on every picture.
 *
 * Build (the project's build puts it in build/bin/hooks/box.so):
 *     cc -shared -fPIC -O2 -I<vidmorph>/include -o box.so box.c
 *
 * Use:
 *     vidmorph-cli -i in.mp4 -vhook "/path/to/box.so -x 10 -y 20 -w 50 -h 40 -c 255,0,0" out.mp4
 *
 * Arguments, each option and its value as separate words:
 *     -x X, -y Y   top-left corner in pixels (default 0, 0); may be negative
 *     -w W, -h H   size in pixels (default 16 x 16)
 *     -c R,G,B     colour, three numbers 0-255 (default 255,255,255)
 * The part of the box outside the picture is not drawn. On planar YUV the
 * colour is converted to Y, Cb, Cr (BT.601; studio range, full range for the
 * yuvj formats) and every chroma sample the box touches takes the box's
 * chroma. Pictures of other formats than planar 8-bit YUV, gray8, rgb24 and
 * bgr24 pass unchanged.
 */
#include <errno.h>
#include <stdlib.h>
#include <stddef.h>
#include <string.h>

#include "vidmorph/framehook.h"

typedef struct BoxContext {
    int x, y, w, h;
    int r, g, b;
} BoxContext;

static int ParseInt(const char *text, int *value)
{
    char *end = NULL;
    long v;
    errno = 0;
    v = strtol(text, &end, 10);
    if (errno || end == text || *end || v < -1000000 || v > 1000000) return -1;
    *value = (int)v;
    return 0;
}

static int ParseColour(const char *text, BoxContext *box)
{
    int c[3], i;
    const char *p = text;
    for (i = 0; i < 3; ++i) {
        char *end = NULL;
        long v;
        errno = 0;
        v = strtol(p, &end, 10);
        if (errno || end == p || v < 0 || v > 255) return -1;
        c[i] = (int)v;
        if (i < 2) {
            if (*end != ',') return -1;
            p = end + 1;
        } else if (*end) {
            return -1;
        }
    }
    box->r = c[0];
    box->g = c[1];
    box->b = c[2];
    return 0;
}

int Configure(void **ctxp, int argc, char *argv[])
{
    BoxContext box = {0, 0, 16, 16, 255, 255, 255};
    BoxContext *ctx;
    int i;
    for (i = 1; i < argc; i += 2) {
        const char *opt = argv[i];
        const char *val = i + 1 < argc ? argv[i + 1] : NULL;
        int bad;
        if (!val) return -1;
        if (!strcmp(opt, "-x"))
            bad = ParseInt(val, &box.x);
        else if (!strcmp(opt, "-y"))
            bad = ParseInt(val, &box.y);
        else if (!strcmp(opt, "-w"))
            bad = ParseInt(val, &box.w) || box.w < 0;
        else if (!strcmp(opt, "-h"))
            bad = ParseInt(val, &box.h) || box.h < 0;
        else if (!strcmp(opt, "-c"))
            bad = ParseColour(val, &box);
        else
            bad = 1;
        if (bad) return -1;
    }
    ctx = (BoxContext *)malloc(sizeof *ctx);
    if (!ctx) return -1;
    *ctx = box;
    *ctxp = ctx;
    return 0;
}

void Release(void *ctx) { free(ctx); }

/* Chroma subsampling of the planar formats this module draws on. */
static int PlanarShifts(int pix_fmt, int *sx, int *sy, int *full_range)
{
    *full_range = 0;
    switch (pix_fmt) {
    case VM_PIX_FMT_YUVJ420P: *full_range = 1; /* fall through */
    case VM_PIX_FMT_YUV420P:
        *sx = 1;
        *sy = 1;
        return 1;
    case VM_PIX_FMT_YUVJ422P: *full_range = 1; /* fall through */
    case VM_PIX_FMT_YUV422P:
        *sx = 1;
        *sy = 0;
        return 1;
    case VM_PIX_FMT_YUVJ444P: *full_range = 1; /* fall through */
    case VM_PIX_FMT_YUV444P:
        *sx = 0;
        *sy = 0;
        return 1;
    case VM_PIX_FMT_YUVJ440P: *full_range = 1; /* fall through */
    case VM_PIX_FMT_YUV440P:
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

static unsigned char Clip(int v) { return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v); }

/* BT.601 in fixed point (16 fractional bits). */
static void ToYCbCr(const BoxContext *box, int full_range, unsigned char yuv[3])
{
    const int r = box->r, g = box->g, b = box->b;
    if (full_range) {
        yuv[0] = Clip((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
        yuv[1] = Clip(((-11059 * r - 21709 * g + 32768 * b + 32768) >> 16) + 128);
        yuv[2] = Clip(((32768 * r - 27439 * g - 5329 * b + 32768) >> 16) + 128);
    } else {
        yuv[0] = Clip(((16829 * r + 33039 * g + 6416 * b + 32768) >> 16) + 16);
        yuv[1] = Clip(((-9714 * r - 19071 * g + 28784 * b + 32768) >> 16) + 128);
        yuv[2] = Clip(((28784 * r - 24103 * g - 4681 * b + 32768) >> 16) + 128);
    }
}

static void FillPlane(unsigned char *plane, int linesize, int x0, int y0, int x1, int y1, unsigned char v)
{
    int y;
    for (y = y0; y < y1; ++y) memset(plane + (ptrdiff_t)y * linesize + x0, v, (size_t)(x1 - x0));
}

void Process(void *ctx, VMPicture *picture, int pix_fmt, int width, int height, int64_t pts_us)
{
    const BoxContext *box = (const BoxContext *)ctx;
    int x0, y0, x1, y1, sx, sy, full_range, x, y;
    (void)pts_us;
    if (!box) return;
    x0 = box->x < 0 ? 0 : box->x;
    y0 = box->y < 0 ? 0 : box->y;
    x1 = box->x + box->w > width ? width : box->x + box->w;
    y1 = box->y + box->h > height ? height : box->y + box->h;
    if (x0 >= x1 || y0 >= y1) return;

    if (PlanarShifts(pix_fmt, &sx, &sy, &full_range)) {
        unsigned char yuv[3];
        const int cx0 = x0 >> sx, cy0 = y0 >> sy;
        const int cx1 = (x1 + (1 << sx) - 1) >> sx, cy1 = (y1 + (1 << sy) - 1) >> sy;
        ToYCbCr(box, full_range, yuv);
        FillPlane(picture->data[0], picture->linesize[0], x0, y0, x1, y1, yuv[0]);
        FillPlane(picture->data[1], picture->linesize[1], cx0, cy0, cx1, cy1, yuv[1]);
        FillPlane(picture->data[2], picture->linesize[2], cx0, cy0, cx1, cy1, yuv[2]);
    } else if (pix_fmt == VM_PIX_FMT_GRAY8) {
        unsigned char yuv[3];
        ToYCbCr(box, 1, yuv);
        FillPlane(picture->data[0], picture->linesize[0], x0, y0, x1, y1, yuv[0]);
    } else if (pix_fmt == VM_PIX_FMT_RGB24 || pix_fmt == VM_PIX_FMT_BGR24) {
        const unsigned char first = (unsigned char)(pix_fmt == VM_PIX_FMT_RGB24 ? box->r : box->b);
        const unsigned char last = (unsigned char)(pix_fmt == VM_PIX_FMT_RGB24 ? box->b : box->r);
        for (y = y0; y < y1; ++y) {
            unsigned char *p = picture->data[0] + (ptrdiff_t)y * picture->linesize[0] + 3 * x0;
            for (x = x0; x < x1; ++x, p += 3) {
                p[0] = first;
                p[1] = (unsigned char)box->g;
                p[2] = last;
            }
        }
    }
}
