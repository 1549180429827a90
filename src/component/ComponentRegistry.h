// Process-wide state of the component module: the registry of live
// components, the per-thread unfinished library log lines, and the
// project's own thread ids. Internal to src/component.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <vector>

class TCustomZUzidiDOR;

// Thread-safe list of the live components. Its lock also guards the log
// line buffers and is never held while calling out of this module.
class TComponentRegistry {
public:
    void Add(TCustomZUzidiDOR *component);
    void Remove(TCustomZUzidiDOR *component);

private:
    friend void LibraryLogCallback(void *, int, const char *, va_list);
    friend void ClearLogList();
    std::mutex FLock;
    std::vector<TCustomZUzidiDOR *> FItems;
};

TComponentRegistry &ComponentRegistry();

// Forgets every thread's unfinished log line.
void ClearLogList();

// A fresh thread id, for a thread that is about to start.
uint64_t NewThreadID();
// The calling thread takes `id` as its own from now on.
void AdoptThreadID(uint64_t id);
