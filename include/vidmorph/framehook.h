/*
 * Frame-hook modules for Vidmorph.
 *
 * A frame-hook module is a shared object that the converter loads when the
 * "vhook" option names it, for example
 *
 *     -vhook "/usr/lib/vidmorph/hooks/box.so -x 10 -y 20 -w 50 -h 40 -c 255,0,0"
 *
 * A name containing "/" loads that file; a bare name goes through the dynamic
 * loader's search (LD_LIBRARY_PATH, the system folders). While the module is
 * loaded and configured, its folder is the current directory, so Configure
 * may open data files that sit beside the module by their bare names.
 *
 * A module exports up to three functions with C linkage:
 *
 *   Configure  optional when the module takes no arguments; called once per
 *              "vhook" use, before any picture.
 *   Process    required; called for every decoded picture that the hooks
 *              apply to, on the conversion's worker thread.
 *   Release    optional; called once per successful Configure when the
 *              conversion ends.
 *
 * A module file is loaded once per process and never unloaded; each "vhook"
 * use of it gets its own context, so a module used twice is configured twice.
 * Different conversions may run at the same time on different threads, each
 * with its own contexts: keep per-use state in the context, not in globals.
 *
 * The module needs nothing but this header and the C library; build it with
 *
 *     cc -shared -fPIC -O2 -I<vidmorph>/include -o mymodule.so mymodule.c
 */
#ifndef VIDMORPH_FRAMEHOOK_H
#define VIDMORPH_FRAMEHOOK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * One picture: up to four planes, each a pointer to its first row and the
 * distance in bytes from one row to the next. Which planes are used, and
 * their sizes, follow from the pixel format; unused planes are null. The
 * module changes the picture in place and must not keep the pointers after
 * Process returns.
 */
typedef struct VMPicture {
    uint8_t *data[4];
    int linesize[4];
} VMPicture;

/*
 * Pixel formats are the numbers of the FFmpeg libraries (enum AVPixelFormat).
 * The ones most modules meet are named here, so that a module needs no FFmpeg
 * header. Sizes of chroma planes are rounded up: a yuv420p picture of width w
 * and height h has chroma planes of (w + 1) / 2 by (h + 1) / 2.
 */
enum {
    VM_PIX_FMT_YUV420P = 0,   /* planar Y, Cb, Cr; chroma halved both ways */
    VM_PIX_FMT_YUYV422 = 1,   /* packed Y0 Cb Y1 Cr */
    VM_PIX_FMT_RGB24 = 2,     /* packed R G B */
    VM_PIX_FMT_BGR24 = 3,     /* packed B G R */
    VM_PIX_FMT_YUV422P = 4,   /* planar; chroma halved horizontally */
    VM_PIX_FMT_YUV444P = 5,   /* planar; full-size chroma */
    VM_PIX_FMT_YUV410P = 6,   /* planar; chroma quartered both ways */
    VM_PIX_FMT_YUV411P = 7,   /* planar; chroma quartered horizontally */
    VM_PIX_FMT_GRAY8 = 8,     /* one plane of Y */
    VM_PIX_FMT_YUVJ420P = 12, /* as yuv420p, full range (0-255) */
    VM_PIX_FMT_YUVJ422P = 13, /* as yuv422p, full range */
    VM_PIX_FMT_YUVJ444P = 14, /* as yuv444p, full range */
    VM_PIX_FMT_YUV440P = 31,  /* planar; chroma halved vertically */
    VM_PIX_FMT_YUVJ440P = 32  /* as yuv440p, full range */
};

/*
 * Configure(ctxp, argc, argv): argv[0] is the module's name as the user gave
 * it, argv[1..argc-1] its arguments; the strings are valid only during the
 * call (copy what you keep). Store the module's context in *ctxp (it starts
 * as NULL). Return 0 on success; any other value fails the "vhook" option
 * with "Failed to Configure <name>", and Release is not called for it.
 */
typedef int (*FrameHookConfigureFn)(void **ctxp, int argc, char *argv[]);

/*
 * Process(ctx, picture, pix_fmt, width, height, pts_us): changes the picture
 * in place. ctx is what Configure stored (NULL without Configure); pts_us is
 * the picture's time stamp in microseconds, INT64_MIN when it has none.
 */
typedef void (*FrameHookProcessFn)(void *ctx, VMPicture *picture, int pix_fmt, int width, int height,
                                   int64_t pts_us);

/* Release(ctx): frees what Configure made. */
typedef void (*FrameHookReleaseFn)(void *ctx);

/*
 * Prototypes for module authors: defining a function with another signature
 * is then a compile error. The export attribute keeps the names visible when
 * the module is built with -fvisibility=hidden. The converter itself defines
 * VIDMORPH_FRAMEHOOK_HOST and only uses the pointer types.
 */
#ifndef VIDMORPH_FRAMEHOOK_HOST
#define VM_HOOK_EXPORT __attribute__((visibility("default")))
VM_HOOK_EXPORT int Configure(void **ctxp, int argc, char *argv[]);
VM_HOOK_EXPORT void Process(void *ctx, VMPicture *picture, int pix_fmt, int width, int height,
                            int64_t pts_us);
VM_HOOK_EXPORT void Release(void *ctx);
#endif

#ifdef __cplusplus
}
#endif

#endif /* VIDMORPH_FRAMEHOOK_H */
