// The engine's list of frame-hook modules: shared objects named by the "vhook"
// option and run on every decoded picture (include/vidmorph/framehook.h is
// the modules' side of the contract).
//
// Module files are loaded once per process into a cache guarded by a mutex
// and never unloaded. Each successful AddFrameHook appends one entry with its
// own context. A list belongs to one engine: it is filled while the options
// are parsed, run on the engine's worker thread and released when the engine
// cleans up; a list is not safe to use from two threads at once.
//
// Failures are logged to the libraries' log at error level (lav::av_log), so
// the media libraries must be loaded before a module is added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define VIDMORPH_FRAMEHOOK_HOST
#include "vidmorph/framehook.h"

#include "MediaOps.h"

// One configured use of a module.
struct TFrameHookEntry {
    TFrameHookEntry *Next = nullptr;
    FrameHookConfigureFn Configure = nullptr;
    FrameHookProcessFn Process = nullptr;
    FrameHookReleaseFn Release = nullptr;
    void *Context = nullptr; // set by Configure
};

// The module list: entries in the order they were added. Owns its entries;
// destroying a list that was not released releases it.
struct TFrameHookList {
    TFrameHookEntry *First = nullptr;

    TFrameHookList() = default;
    TFrameHookList(const TFrameHookList &) = delete;
    TFrameHookList &operator=(const TFrameHookList &) = delete;
    ~TFrameHookList();

    bool Empty() const { return First == nullptr; }
    size_t Count() const;
};

// Loads the module argv[0] (from the cache when it was loaded before), binds
// "Configure", "Process" and "Release", calls Configure(&context, argc, argv)
// and appends the entry. Results: 0; -2 for argc <= 0, a missing Process, or a
// missing Configure with arguments; -1 when the module does not load; -12
// without memory; -22 when Configure fails. The module's folder is current
// during the call; the current directory is restored on every path. The
// module cache's lock is held throughout, so Configure must not add modules.
int AddFrameHook(TFrameHookList &list, int argc, char *argv[]);
// The same with owned strings (args[0] is the module name).
int AddFrameHook(TFrameHookList &list, const std::vector<std::string> &args);

// Calls each entry's Process in list order; the picture is changed in place.
void RunFrameHooks(const TFrameHookList &list, TPicture &picture, int pixelFormat, int width, int height,
                   int64_t timeStamp);

// Calls each entry's Release (when the module has one) and frees the entries;
// the list is empty afterwards.
void ReleaseFrameHooks(TFrameHookList &list);

// The number of module files in the process-wide cache (each loaded once).
size_t FrameHookModuleCount();
