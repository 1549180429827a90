#include "FFmpegLoader.h"

#include <dlfcn.h>
#include <fenv.h>
#include <cmath>
#include <cstdio>

#include "Assert.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

std::mutex CodecLock;
std::atomic<int> LibraryLogLevel{1};

namespace {

// Under AddressSanitizer an unloaded library stays mapped (its handle is
// still forgotten): leak reports need the code that allocated, and the
// one-time allocations of the libraries' own dependencies stay reachable
// through their data instead of showing as leaks of unknown modules.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool KeepLibrariesMapped = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool KeepLibrariesMapped = true;
#else
constexpr bool KeepLibrariesMapped = false;
#endif
#else
constexpr bool KeepLibrariesMapped = false;
#endif

// Library code runs in-process: no floating-point exception may reach the
// host. The environment of the process is saved at start-up and restored at
// shutdown.
struct TFloatingPointGuard {
    fenv_t Saved{};
    TFloatingPointGuard()
    {
        fegetenv(&Saved);
        fedisableexcept(FE_ALL_EXCEPT);
    }
    ~TFloatingPointGuard()
    {
        // Wait for a holder of the codec lock before the libraries' state goes.
        {
            std::lock_guard<std::mutex> wait(CodecLock);
        }
        fesetenv(&Saved);
    }
} FloatingPointGuard;

std::u16string LibraryPathValue;
std::string LastErrorMessageValue;

template <typename Slot> void BindSlot(const std::u16string &file, void *handle, const char *name, Slot &slot)
{
    dlerror();
    void *p = dlsym(handle, name);
    if (!p) {
        const char *why = dlerror();
        char buf[1024];
        snprintf(buf, sizeof buf, "Load function %s@%s error: %s", name, MyUtils::Utf16ToUtf8(file).c_str(),
                 why ? why : "symbol not found");
        throw EBindError(buf);
    }
    slot = reinterpret_cast<Slot>(p);
}

#define VM_BIND_ONE(name) BindSlot(file, handle, #name, lav::name);
#define VM_UNBIND_ONE(name) lav::name = nullptr;
#define VM_BINDER(lib, LIST)                                                                                 \
    void Bind_##lib(const std::u16string &file, void *handle) { LIST(VM_BIND_ONE) }                          \
    void Unbind_##lib() { LIST(VM_UNBIND_ONE) }

VM_BINDER(avcodec, VIDMORPH_AVCODEC_ENTRY_POINTS)
VM_BINDER(avdevice, VIDMORPH_AVDEVICE_ENTRY_POINTS)
VM_BINDER(avfilter, VIDMORPH_AVFILTER_ENTRY_POINTS)
VM_BINDER(avformat, VIDMORPH_AVFORMAT_ENTRY_POINTS)
VM_BINDER(avutil, VIDMORPH_AVUTIL_ENTRY_POINTS)
VM_BINDER(swscale, VIDMORPH_SWSCALE_ENTRY_POINTS)
VM_BINDER(swresample, VIDMORPH_SWRESAMPLE_ENTRY_POINTS)
VM_BINDER(myutil, VIDMORPH_MYUTIL_ENTRY_POINTS)
void Bind_SDL(const std::u16string &, void *) {}
void Unbind_SDL() {}

// avdevice_register_all is the only registration call the current libraries
// still have; the others register themselves.
void Bind_avdevice_registering(const std::u16string &file, void *handle)
{
    Bind_avdevice(file, handle);
    lav::avdevice_register_all();
}

const TLibraryItem LibraryItems[MediaLibraryCount] = {
    {TMediaLibrary::avcodec, u"avcodec", LIBAVCODEC_VERSION_MAJOR, Bind_avcodec, Unbind_avcodec},
    {TMediaLibrary::avdevice, u"avdevice", LIBAVDEVICE_VERSION_MAJOR, Bind_avdevice_registering,
     Unbind_avdevice},
    {TMediaLibrary::avfilter, u"avfilter", LIBAVFILTER_VERSION_MAJOR, Bind_avfilter, Unbind_avfilter},
    {TMediaLibrary::avformat, u"avformat", LIBAVFORMAT_VERSION_MAJOR, Bind_avformat, Unbind_avformat},
    {TMediaLibrary::avutil, u"avutil", LIBAVUTIL_VERSION_MAJOR, Bind_avutil, Unbind_avutil},
    {TMediaLibrary::swscale, u"swscale", LIBSWSCALE_VERSION_MAJOR, Bind_swscale, Unbind_swscale},
    {TMediaLibrary::swresample, u"swresample", LIBSWRESAMPLE_VERSION_MAJOR, Bind_swresample,
     Unbind_swresample},
    {TMediaLibrary::myutil, u"myutil", -1, Bind_myutil, Unbind_myutil},
    {TMediaLibrary::SDL, u"SDL", -1, Bind_SDL, Unbind_SDL},
};

TLibraryStatus LibraryStatus[MediaLibraryCount] = {
    {TMediaLibrary::avcodec, {}},    {TMediaLibrary::avdevice, {}}, {TMediaLibrary::avfilter, {}},
    {TMediaLibrary::avformat, {}},   {TMediaLibrary::avutil, {}},   {TMediaLibrary::swscale, {}},
    {TMediaLibrary::swresample, {}}, {TMediaLibrary::myutil, {}},   {TMediaLibrary::SDL, {}},
};

} // namespace

TFFmpegLoader &FFmpegLoader()
{
    static TFFmpegLoader instance;
    return instance;
}

void *LoadLibraryFrom(const std::u16string &folder, const std::u16string &file, std::string &error)
{
    void *handle = nullptr;
    std::u16string full = folder.empty() ? file : MyUtils::IncludeTrailingPathDelimiter(folder) + file;
    if (!folder.empty() && MyUtils::FileExists(full)) {
        // The folder is current during the load, as a library may look for
        // its own data beside itself.
        std::u16string saved = MyUtils::GetCurrentDir();
        MyUtils::SetCurrentDir(folder);
        handle = dlopen(MyUtils::Utf16ToUtf8(full).c_str(), RTLD_NOW | RTLD_LOCAL);
        const char *why = handle ? nullptr : dlerror();
        error = why ? why : "";
        MyUtils::SetCurrentDir(saved);
    } else {
        handle = dlopen(MyUtils::Utf16ToUtf8(file).c_str(), RTLD_NOW | RTLD_LOCAL);
        const char *why = handle ? nullptr : dlerror();
        error = why ? why : "";
    }
    if (!handle && error.empty()) error = "cannot load library";
    return handle;
}

std::u16string TFFmpegLoader::BuiltFileName(TMediaLibrary library) const
{
    const TLibraryItem &item = Item(library);
    std::u16string name = u"lib" + std::u16string(item.Name) + u".so";
    if (item.Version >= 0) name += u"." + MyUtils::Utf8ToUtf16(std::to_string(item.Version));
    return name;
}

const TLibraryItem &TFFmpegLoader::Item(TMediaLibrary library) const
{
    return LibraryItems[unsigned(library)];
}

const TLibraryStatus &TFFmpegLoader::Status(TMediaLibrary library) const
{
    return LibraryStatus[unsigned(library)];
}

void TFFmpegLoader::SetLibraryFileName(TMediaLibrary library, const std::u16string &fileName)
{
    LibraryStatus[unsigned(library)].FileName = fileName;
}

void TFFmpegLoader::SetLibraryPath(const std::u16string &path) { LibraryPathValue = path; }
std::u16string TFFmpegLoader::LibraryPath() const { return LibraryPathValue; }
std::string TFFmpegLoader::LastErrorMessage() const { return LastErrorMessageValue; }

bool TFFmpegLoader::LoadOne(TLibraryStatus &status)
{
    std::u16string fileName = status.FileName.empty() ? BuiltFileName(status.Library) : status.FileName;
    if (!status.Handle) {
        size_t split = MyUtils::LastDelimiter(u"/", fileName);
        std::u16string folder = fileName.substr(0, split);
        std::u16string file = fileName.substr(split);
        if (folder.empty() && !LibraryPathValue.empty())
            folder = MyUtils::IncludeTrailingPathDelimiter(LibraryPathValue);
        std::string error;
        status.Handle = LoadLibraryFrom(folder, file, error);
        if (!status.Handle) {
            LastErrorMessageValue =
                "Load library " + MyUtils::Utf16ToUtf8(folder + file) + " error: " + error;
            return false;
        }
    }
    if (!status.Loaded) {
        try {
            Item(status.Library).Bind(fileName, status.Handle);
            status.Loaded = true;
        } catch (const EBindError &e) {
            LastErrorMessageValue = e.what();
            Item(status.Library).Unbind(); // no half-bound table is left behind
        }
    }
    if (!status.Loaded) {
        UnloadOne(status);
        return false;
    }
    if (status.Library == TMediaLibrary::avformat) RegisterUnicodeProtocol();
    return true;
}

void TFFmpegLoader::UnloadOne(TLibraryStatus &status)
{
    if (status.Loaded) {
        Item(status.Library).Unbind();
        status.Loaded = false;
    }
    if (status.Handle) {
        if (!KeepLibrariesMapped) dlclose(status.Handle);
        status.Handle = nullptr;
    }
}

bool TFFmpegLoader::LoadLibraries(TMediaLibraries set)
{
    Assert(!set.Empty(), "Assertion failure (FFmpegLoader)");
    for (auto &status : LibraryStatus) {
        if (!set.Contains(status.Library)) continue;
        if (!LoadOne(status)) {
            UnloadLibraries(set);
            return false;
        }
    }
    return true;
}

bool TFFmpegLoader::LibrariesLoaded(TMediaLibraries set) const
{
    Assert(!set.Empty(), "Assertion failure (FFmpegLoader)");
    for (const auto &status : LibraryStatus)
        if (set.Contains(status.Library) && !LibraryLoaded(status.Library)) return false;
    return true;
}

bool TFFmpegLoader::LibraryLoaded(TMediaLibrary library) const
{
    const TLibraryStatus &s = Status(library);
    return s.Handle && s.Loaded;
}

void TFFmpegLoader::UnloadLibraries(TMediaLibraries set)
{
    Assert(!set.Empty(), "Assertion failure (FFmpegLoader)");
    for (auto &status : LibraryStatus)
        if (set.Contains(status.Library)) UnloadOne(status);
}

unsigned TFFmpegLoader::LibraryVersion(TMediaLibrary library) const
{
    if (!LibraryLoaded(library)) return 0;
    switch (library) {
    case TMediaLibrary::avcodec: return lav::avcodec_version();
    case TMediaLibrary::avdevice: return lav::avdevice_version();
    case TMediaLibrary::avfilter: return lav::avfilter_version();
    case TMediaLibrary::avformat: return lav::avformat_version();
    case TMediaLibrary::avutil: return lav::avutil_version();
    case TMediaLibrary::swscale: return lav::swscale_version();
    case TMediaLibrary::swresample: return lav::swresample_version();
    default: return 0;
    }
}

int LibraryLevelToAV(int level)
{
    if (level < 0) return AV_LOG_QUIET;
    if (level == 0) return AV_LOG_ERROR;
    if (level == 1) return AV_LOG_INFO;
    return AV_LOG_DEBUG;
}

int AVLevelToLibrary(int avLevel)
{
    if (avLevel <= AV_LOG_QUIET) return -1;
    if (avLevel <= AV_LOG_WARNING) return 0; // panic, fatal, error, warning
    if (avLevel <= AV_LOG_VERBOSE) return 1; // info, verbose
    return 2;                                // debug, trace
}

namespace vm {

double av_q2d(AVRational a) { return a.num / double(a.den); }

int av_clip(int value, int minimum, int maximum)
{
    if (value < minimum) return minimum;
    if (value > maximum) return maximum;
    return value;
}

void av_free_packet(AVPacket *packet)
{
    if (packet) lav::av_packet_unref(packet);
}

AVRational av_d2q(double value, int max)
{
    AVRational a{0, 1};
    if (std::isnan(value)) return a;
    if (std::fabs(value) > double(INT_MAX) + 3LL) return AVRational{value < 0 ? -1 : 1, 0};
    int e = int(std::lround(std::log2(std::fabs(value) + 1e-20)));
    if (e < 0) e = 0;
    int64_t den = int64_t(1) << (61 - e);
    int64_t num = std::llround(value * double(den) + 0.5);
    // av_reduce finds the nearest fraction whose terms do not exceed max.
    lav::av_reduce(&a.num, &a.den, num, den, max);
    return a;
}

} // namespace vm
