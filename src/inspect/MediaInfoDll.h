// The MediaInfo reader: one analysed file and a fixed set of questions about
// it, each a single query of libmediainfo, converted to a number where needed.
//
// The file is analysed on construction and the library handle released when
// the reader goes. A file the library cannot analyse answers empty texts, so
// every numeric question gives 0 and every text question an empty string;
// only GetFrameRate throws (MediaInfoException) on a text that is not a
// number. Readers of different files may be used on different threads.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

struct MediaInfoException : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The part of `text` before the first `separator`; all of it without one.
std::string TextBefore(const std::string &separator, const std::string &text);
// A decimal integer, the fraction and anything after "/" dropped ("25.000"
// gives 25, "48000/1001" gives 48000); `defaultValue` for an empty text or
// one that is not a number.
int64_t TextToInt64(const std::string &text, int64_t defaultValue);
// A decimal number with "." as the decimal separator (as libmediainfo writes
// it on every locale), anything after "/" dropped; `defaultValue` for an
// empty text or one that is not a number.
double TextToFloat(const std::string &text, double defaultValue);

class TMediaInfoDll {
public:
    // `fileName` in UTF-8, whatever the process locale; the texts answered
    // are UTF-8 too.
    explicit TMediaInfoDll(const std::string &fileName);
    ~TMediaInfoDll();
    TMediaInfoDll(const TMediaInfoDll &) = delete;
    TMediaInfoDll &operator=(const TMediaInfoDll &) = delete;

    int32_t GetWidth();
    int32_t GetHeight();
    int32_t GetPlayTime(); // milliseconds
    std::string GetFileExtension();
    std::u16string GetVideoCodec();
    std::u16string GetAudioCodec(int n);
    double GetFrameRate();
    double GetBitRate(); // of the first video stream, bits/s

private:
    std::string Get(int streamKind, int streamNumber, const char *parameter);

    void *FHandle = nullptr;
};
