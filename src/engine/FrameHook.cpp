#include "FrameHook.h"

#include <dlfcn.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <type_traits>

#include "EntryPoints.h"

// The engine hands its own pictures to the modules as they are.
static_assert(std::is_standard_layout_v<TPicture> && std::is_standard_layout_v<VMPicture>);
static_assert(sizeof(TPicture) == sizeof(VMPicture));
static_assert(offsetof(TPicture, data) == offsetof(VMPicture, data) &&
              sizeof(TPicture::data) == sizeof(VMPicture::data));
static_assert(offsetof(TPicture, linesize) == offsetof(VMPicture, linesize) &&
              sizeof(TPicture::linesize) == sizeof(VMPicture::linesize));

// The pixel-format numbers the public header names are the libraries' own.
constexpr bool SameFormat(int named, AVPixelFormat format) { return named == int(format); }
static_assert(SameFormat(VM_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P) &&
              SameFormat(VM_PIX_FMT_YUYV422, AV_PIX_FMT_YUYV422) &&
              SameFormat(VM_PIX_FMT_RGB24, AV_PIX_FMT_RGB24) &&
              SameFormat(VM_PIX_FMT_BGR24, AV_PIX_FMT_BGR24) &&
              SameFormat(VM_PIX_FMT_YUV422P, AV_PIX_FMT_YUV422P) &&
              SameFormat(VM_PIX_FMT_YUV444P, AV_PIX_FMT_YUV444P) &&
              SameFormat(VM_PIX_FMT_YUV410P, AV_PIX_FMT_YUV410P) &&
              SameFormat(VM_PIX_FMT_YUV411P, AV_PIX_FMT_YUV411P) &&
              SameFormat(VM_PIX_FMT_GRAY8, AV_PIX_FMT_GRAY8) &&
              SameFormat(VM_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ420P) &&
              SameFormat(VM_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ422P) &&
              SameFormat(VM_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUVJ444P) &&
              SameFormat(VM_PIX_FMT_YUV440P, AV_PIX_FMT_YUV440P) &&
              SameFormat(VM_PIX_FMT_YUVJ440P, AV_PIX_FMT_YUVJ440P));

namespace {

// Module file name -> handle. Loaded modules stay for the life of the
// process; the lock also serialises the directory change around a load.
std::mutex ModuleCacheLock;
std::map<std::string, void *> &ModuleCache()
{
    static std::map<std::string, void *> cache;
    return cache;
}

template <typename... Args> void LogError(const char *format, Args... args)
{
    if (lav::av_log) lav::av_log(nullptr, AV_LOG_ERROR, format, args...);
}

// Makes a folder current for its lifetime and restores the previous one.
class TCurrentDirScope {
public:
    explicit TCurrentDirScope(const std::filesystem::path &folder)
    {
        std::error_code ec;
        FSaved = std::filesystem::current_path(ec);
        if (ec) return;
        std::filesystem::current_path(folder, ec);
        FChanged = !ec;
    }
    ~TCurrentDirScope()
    {
        std::error_code ec;
        if (FChanged) std::filesystem::current_path(FSaved, ec);
    }
    TCurrentDirScope(const TCurrentDirScope &) = delete;
    TCurrentDirScope &operator=(const TCurrentDirScope &) = delete;

private:
    std::filesystem::path FSaved;
    bool FChanged = false;
};

} // namespace

TFrameHookList::~TFrameHookList() { ReleaseFrameHooks(*this); }

size_t TFrameHookList::Count() const
{
    size_t n = 0;
    for (const TFrameHookEntry *e = First; e; e = e->Next) ++n;
    return n;
}

int AddFrameHook(TFrameHookList &list, int argc, char *argv[])
{
    if (argc <= 0 || !argv || !argv[0]) return -2;
    const std::string name = argv[0];

    std::lock_guard<std::mutex> lock(ModuleCacheLock);
    std::map<std::string, void *> &cache = ModuleCache();

    // A name with a folder part loads that file, with the folder current
    // until the module is configured. A relative name is resolved first, as
    // it would otherwise be read against the folder just made current.
    std::string fileName = name;
    std::filesystem::path folder;
    if (size_t slash = name.rfind('/'); slash != std::string::npos) {
        std::error_code ec;
        std::filesystem::path full = std::filesystem::absolute(name, ec);
        if (!ec) fileName = full.string();
        folder = std::filesystem::path(fileName).parent_path();
    }
    std::optional<TCurrentDirScope> dirScope;
    if (!folder.empty()) dirScope.emplace(folder);

    void *handle = nullptr;
    if (auto cached = cache.find(name); cached != cache.end()) {
        handle = cached->second;
    } else {
        handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char *why = dlerror();
            LogError("%s\n", why ? why : "cannot load module");
            return -1;
        }
        cache.emplace(name, handle);
    }

    TFrameHookEntry *entry = new (std::nothrow) TFrameHookEntry();
    if (!entry) return -12;
    entry->Configure = reinterpret_cast<FrameHookConfigureFn>(dlsym(handle, "Configure"));
    entry->Process = reinterpret_cast<FrameHookProcessFn>(dlsym(handle, "Process"));
    entry->Release = reinterpret_cast<FrameHookReleaseFn>(dlsym(handle, "Release"));

    if (!entry->Process) {
        LogError("Failed to find Process entrypoint in %s\n", name.c_str());
        delete entry;
        return -2;
    }
    if (!entry->Configure && argc > 1) {
        LogError("Failed to find Configure entrypoint in %s\n", name.c_str());
        delete entry;
        return -2;
    }
    if (entry->Configure && entry->Configure(&entry->Context, argc, argv) != 0) {
        LogError("Failed to Configure %s\n", name.c_str());
        delete entry;
        return -22;
    }

    TFrameHookEntry **tail = &list.First;
    while (*tail) tail = &(*tail)->Next;
    *tail = entry;
    return 0;
}

int AddFrameHook(TFrameHookList &list, const std::vector<std::string> &args)
{
    // Modules may expect writable strings, as a C main's argv.
    std::vector<std::string> copies(args);
    std::vector<char *> argv;
    argv.reserve(copies.size() + 1);
    for (std::string &s : copies) argv.push_back(s.data());
    argv.push_back(nullptr);
    return AddFrameHook(list, int(copies.size()), argv.data());
}

void RunFrameHooks(const TFrameHookList &list, TPicture &picture, int pixelFormat, int width, int height,
                   int64_t timeStamp)
{
    auto *modulePicture = reinterpret_cast<VMPicture *>(&picture);
    for (const TFrameHookEntry *e = list.First; e; e = e->Next)
        e->Process(e->Context, modulePicture, pixelFormat, width, height, timeStamp);
}

void ReleaseFrameHooks(TFrameHookList &list)
{
    TFrameHookEntry *e = list.First;
    list.First = nullptr;
    while (e) {
        TFrameHookEntry *next = e->Next;
        if (e->Release) e->Release(e->Context);
        delete e;
        e = next;
    }
}

size_t FrameHookModuleCount()
{
    std::lock_guard<std::mutex> lock(ModuleCacheLock);
    return ModuleCache().size();
}
