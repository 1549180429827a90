// The library loader: loads the FFmpeg libraries and libmyutil at run time
// and binds their entry points into the tables of EntryPoints.h.
//
// A library is looked for in LibraryPath first (when the file is there) and
// otherwise by its bare name through the dynamic loader's search. Loading and
// unloading run on one thread (the user-interface thread) before workers use
// the tables; the tables are read without locking afterwards.
//
// Process-wide settings owned here: the saved floating-point environment
// (all exceptions masked from start-up, restored at shutdown), CodecLock, and
// LibraryLogLevel.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "EntryPoints.h"

// The libraries the loader knows, in load order and bit order.
enum class TMediaLibrary : uint8_t {
    avcodec,
    avdevice,
    avfilter,
    avformat,
    avutil,
    swscale,
    swresample,
    myutil,
    SDL
};
constexpr int MediaLibraryCount = 9;

// A set of TMediaLibrary, one bit per library.
struct TMediaLibraries {
    uint16_t Bits = 0;
    constexpr TMediaLibraries() = default;
    constexpr TMediaLibraries(std::initializer_list<TMediaLibrary> libs)
    {
        for (auto l : libs) Bits |= uint16_t(1u << unsigned(l));
    }
    constexpr bool Contains(TMediaLibrary l) const { return Bits & (1u << unsigned(l)); }
    constexpr bool Empty() const { return Bits == 0; }
};

// What the component loads and the engine checks: all but avdevice and SDL.
constexpr TMediaLibraries RequiredLibraries{
    TMediaLibrary::avcodec, TMediaLibrary::avfilter,   TMediaLibrary::avformat, TMediaLibrary::avutil,
    TMediaLibrary::swscale, TMediaLibrary::swresample, TMediaLibrary::myutil};

// Constant description of one library.
struct TLibraryItem {
    TMediaLibrary Library;
    const char16_t *Name;
    int32_t Version; // major version appended to the file name, -1 for none
    // Looks up every entry point of the library and stores it in the table;
    // throws EBindError naming the first entry point that is missing.
    void (*Bind)(const std::u16string &fileName, void *handle);
    void (*Unbind)(); // every slot of the library back to null
};

struct EBindError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Run-time state of one library.
struct TLibraryStatus {
    TMediaLibrary Library;
    std::u16string FileName; // used instead of the built file name when set
    void *Handle = nullptr;
    bool Loaded = false;
};

class TFFmpegLoader {
public:
    // Loads and binds every library of the set; true when all are loaded. At
    // the first failure the whole set is unloaded and LastErrorMessage says
    // why. An empty set is a programming error (EAssertionFailed).
    bool LoadLibraries(TMediaLibraries set);
    bool LibrariesLoaded(TMediaLibraries set) const;
    bool LibraryLoaded(TMediaLibrary library) const;
    void UnloadLibraries(TMediaLibraries set);

    void SetLibraryPath(const std::u16string &path);
    std::u16string LibraryPath() const;
    // The message of the most recent failure; a later success keeps it.
    std::string LastErrorMessage() const;

    const TLibraryItem &Item(TMediaLibrary library) const;
    const TLibraryStatus &Status(TMediaLibrary library) const;
    // Overrides the built file name of one library (empty: back to the built name).
    void SetLibraryFileName(TMediaLibrary library, const std::u16string &fileName);
    // "libavcodec.so.59", "libmyutil.so".
    std::u16string BuiltFileName(TMediaLibrary library) const;
    // The library's own version number (AV_VERSION_INT form) while loaded, else 0.
    unsigned LibraryVersion(TMediaLibrary library) const;

private:
    bool LoadOne(TLibraryStatus &status);
    void UnloadOne(TLibraryStatus &status);
};

// The single loader instance.
TFFmpegLoader &FFmpegLoader();

// dlopen of folder + file when that file exists (with the folder made
// current during the load), otherwise of the bare file name. Returns the
// handle, or null with `error` set to the loader's message.
void *LoadLibraryFrom(const std::u16string &folder, const std::u16string &file, std::string &error);

// Held around every codec open and close and every stream-information probe.
extern std::mutex CodecLock;

// The libraries' log level: -1 quiet, 0 error, 1 info, 2 debug.
extern std::atomic<int> LibraryLogLevel;
int LibraryLevelToAV(int level);
int AVLevelToLibrary(int avLevel);

// Computations the old interface had as inline functions.
namespace vm {
double av_q2d(AVRational a);
int av_clip(int value, int minimum, int maximum);
void av_free_packet(AVPacket *packet); // releases the packet's data
AVRational av_d2q(double value, int max);
} // namespace vm
