// The libraries' log callback, the component registry and the per-thread
// buffers of unfinished log lines.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ComponentRegistry.h"
#include "FFmpegLoader.h"
#include "ZUzidiDOR.h"

namespace {
std::atomic<uint64_t> NextThreadID{1};
thread_local uint64_t ThisThreadID = 0;

// The text a thread logged after its last line break.
struct TLogItem {
    uint64_t ThreadID = 0;
    std::string Text;
    std::unique_ptr<TLogItem> Next;
};

// One item per thread that logged; the first is embedded, the others are
// chained behind it. Guarded by the registry's lock.
class TLogList {
public:
    TLogItem &ItemOf(uint64_t threadId)
    {
        if (FFirst.ThreadID == 0 || FFirst.ThreadID == threadId) {
            FFirst.ThreadID = threadId;
            return FFirst;
        }
        for (TLogItem *item = FFirst.Next.get(); item; item = item->Next.get())
            if (item->ThreadID == threadId) return *item;
        auto item = std::make_unique<TLogItem>();
        item->ThreadID = threadId;
        item->Next = std::move(FFirst.Next);
        FFirst.Next = std::move(item);
        return *FFirst.Next;
    }

    void Clear()
    {
        FFirst.ThreadID = 0;
        FFirst.Text.clear();
        // Unchained one by one, so that a long chain cannot exhaust the stack.
        std::unique_ptr<TLogItem> next = std::move(FFirst.Next);
        while (next) next = std::move(next->Next);
    }

private:
    TLogItem FFirst;
};

TLogList &LogList()
{
    static TLogList list;
    return list;
}

constexpr size_t LogBufferSize = 2048;
} // namespace

uint64_t NewThreadID() { return NextThreadID++; }

uint64_t CurrentThreadID()
{
    if (!ThisThreadID) ThisThreadID = NewThreadID();
    return ThisThreadID;
}

void AdoptThreadID(uint64_t id) { ThisThreadID = id; }

TLogLevel LogLevelOf(int level)
{
    if (level < 0) return llQuiet;
    if (level > 3) return llAll;
    return TLogLevel(level + 1);
}

TComponentRegistry &ComponentRegistry()
{
    static TComponentRegistry registry;
    return registry;
}

void TComponentRegistry::Add(TCustomZUzidiDOR *component)
{
    std::lock_guard<std::mutex> lock(FLock);
    FItems.push_back(component);
}

void TComponentRegistry::Remove(TCustomZUzidiDOR *component)
{
    std::lock_guard<std::mutex> lock(FLock);
    FItems.erase(std::remove(FItems.begin(), FItems.end(), component), FItems.end());
}

void ClearLogList()
{
    TComponentRegistry &registry = ComponentRegistry();
    std::lock_guard<std::mutex> lock(registry.FLock);
    LogList().Clear();
}

void LibraryLogCallback(void *context, int level, const char *format, va_list args)
{
    const int libraryLevel = AVLevelToLibrary(level);
    if (libraryLevel > LibraryLogLevel.load()) return;

    TComponentRegistry &registry = ComponentRegistry();
    std::vector<std::string> lines;
    std::vector<TCustomZUzidiDOR *> components;
    {
        std::lock_guard<std::mutex> lock(registry.FLock);
        TLogItem &item = LogList().ItemOf(CurrentThreadID());

        char buffer[LogBufferSize] = {};
        size_t used = 0;
        const AVClass *avClass = context ? *static_cast<const AVClass *const *>(context) : nullptr;
        if (avClass && item.Text.empty()) {
            const char *name = avClass->item_name ? avClass->item_name(context) : avClass->class_name;
            std::snprintf(buffer, sizeof buffer, "[%s @ %016" PRIXPTR "]", name ? name : "",
                          reinterpret_cast<uintptr_t>(avClass));
            used = std::strlen(buffer);
        } else if (!item.Text.empty()) {
            used = std::min(item.Text.size(), sizeof buffer - 1);
            std::memcpy(buffer, item.Text.data(), used);
        }
        // Bounded: what does not fit is cut.
        if (format && used < sizeof buffer - 1)
            std::vsnprintf(buffer + used, sizeof buffer - used, format, args);

        std::string text(buffer);
        size_t start = 0;
        for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
            lines.push_back(text.substr(start, lf - start));
            start = lf + 1;
        }
        item.Text = text.substr(start);
        // A full buffer without a line break goes out as it is: holding it
        // back would cut every later message of the thread to nothing.
        if (start == 0 && item.Text.size() >= sizeof buffer - 1) {
            lines.push_back(std::move(item.Text));
            item.Text.clear();
        }

        if (!lines.empty()) {
            components = registry.FItems;
            for (TCustomZUzidiDOR *component : components) ++component->FDeliveries;
        }
    }

    // Delivered without the registry's lock, so that a component's lock
    // (held while its events run, which may log) never waits for it. A
    // component being destroyed waits for the deliveries counted above.
    for (TCustomZUzidiDOR *component : components) {
        for (const std::string &line : lines) component->DeliverLibraryLine(libraryLevel, line);
        --component->FDeliveries;
    }
}
