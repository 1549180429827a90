/*
 * Frame-hook modules for the tests of the module list, built from this one
 * file with one of these definitions:
 *   TEST_HOOK_NO_CONFIGURE      Process and Release only
 *   TEST_HOOK_NO_PROCESS        Configure only
 *   TEST_HOOK_FAILING_CONFIGURE Configure always fails
 * and without any: the recording module. TestHookState() gives the test what
 * the module saw; the test finds it with dlopen(RTLD_NOLOAD) and dlsym.
 */
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "vidmorph/framehook.h"

typedef struct TTestHookState {
    int Loads;            /* constructor runs: times the file was mapped */
    int Configures;       /* Configure calls */
    int Releases;         /* Release calls */
    int ProcessOrder[16]; /* the context id of each Process call, in order */
    int ProcessCount;
    int LastArgc;
    char LastArg[64];        /* argv[argc - 1] of the last Configure */
    char ConfigureDir[4096]; /* the current directory during Configure */
    int64_t LastPts;
} TTestHookState;

static TTestHookState State;

VM_HOOK_EXPORT TTestHookState *TestHookState(void) { return &State; }

__attribute__((constructor)) static void Loaded(void) { ++State.Loads; }

#if defined(TEST_HOOK_FAILING_CONFIGURE)
int Configure(void **ctxp, int argc, char *argv[])
{
    (void)ctxp;
    (void)argc;
    (void)argv;
    ++State.Configures;
    return 1;
}
#elif !defined(TEST_HOOK_NO_CONFIGURE)
int Configure(void **ctxp, int argc, char *argv[])
{
    int *id;
    ++State.Configures;
    State.LastArgc = argc;
    strncpy(State.LastArg, argv[argc - 1], sizeof State.LastArg - 1);
    if (!getcwd(State.ConfigureDir, sizeof State.ConfigureDir)) State.ConfigureDir[0] = 0;
    id = (int *)malloc(sizeof *id);
    if (!id) return -1;
    *id = State.Configures;
    *ctxp = id;
    return 0;
}
#endif

#ifndef TEST_HOOK_NO_PROCESS
void Process(void *ctx, VMPicture *picture, int pix_fmt, int width, int height, int64_t pts_us)
{
    (void)pix_fmt;
    (void)width;
    (void)height;
    if (State.ProcessCount < 16) State.ProcessOrder[State.ProcessCount] = ctx ? *(int *)ctx : 0;
    ++State.ProcessCount;
    State.LastPts = pts_us;
    /* Marks the picture so that the caller sees it was handed over. */
    if (picture->data[0]) picture->data[0][0] = (uint8_t)(picture->data[0][0] + 1);
}
#endif

void Release(void *ctx)
{
    ++State.Releases;
    free(ctx);
}
