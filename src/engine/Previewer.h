// The previewer: a window that shows the pictures a job encodes, titled with
// the picture's time. The engine only knows this interface; the application
// provides the window by installing a factory once at start-up. Without a
// factory the engine's previewer switch does nothing.
//
// An engine makes its previewer on the first picture it previews and
// destroys it when the previewer switch is turned off (by the user closing
// the window, a picture that cannot be converted, or SetPreviewFlags) or
// when it cleans up. ShowPicture runs on the job's thread without
// PreviewLock, so an implementation may hand its window work to the
// user-interface thread and wait for it; the destructor closes the window
// and may run on either thread (SetPreviewFlags and the clean-up destroy it
// with PreviewLock held).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Bitmap.h"

class TPreviewer {
public:
    virtual ~TPreviewer() = default;
    // Shows `bitmap` (borrowed: valid only during the call) as picture
    // `frameNumber` at time `pts` (microseconds). False once the user has
    // closed the window; nothing is drawn then.
    virtual bool ShowPicture(TBitmap &bitmap, int32_t frameNumber, int64_t pts) = 0;
};

using TPreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;

// Installs the process-wide factory (an empty one removes it). Any thread.
void SetPreviewerFactory(TPreviewerFactory factory);
bool HasPreviewerFactory();
// A new previewer from the factory; null without a factory or when the
// factory makes none.
std::unique_ptr<TPreviewer> CreatePreviewer();

// "HH:MM:SS.mmm" for a time stamp in microseconds; "N/A" for AV_NOPTS_VALUE.
std::string FormatPTS(int64_t pts);
