#include "MediaInfoDll.h"

#include <MediaInfoDLL/MediaInfoDLL_Static.h>

#include <locale.h>

#include <charconv>
#include <mutex>

#include "MyUtils.h"

namespace {

std::string Trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t\r\n\f\v");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r\n\f\v");
    return s.substr(a, b - a + 1);
}

// Reads all of `text` as a number of type T; false when it is not one.
template <typename T> bool ConvertWhole(const std::string &text, T &value)
{
    const char *first = text.data();
    const char *last = first + text.size();
    auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last;
}

// The library's narrow interface converts names and answers with the
// thread's locale. For the life of a guard the thread uses a UTF-8 one, so
// that file names and texts are UTF-8 whatever the process locale is (the C
// locale of services and of programs that never call setlocale included).
class TUtf8Locale {
public:
    TUtf8Locale()
    {
        static const locale_t utf8 = [] {
            locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
            return l ? l : newlocale(LC_CTYPE_MASK, "en_US.UTF-8", locale_t(nullptr));
        }();
        if (utf8) FPrevious = uselocale(utf8);
    }
    ~TUtf8Locale()
    {
        if (FPrevious) uselocale(FPrevious);
    }
    TUtf8Locale(const TUtf8Locale &) = delete;
    TUtf8Locale &operator=(const TUtf8Locale &) = delete;

private:
    locale_t FPrevious = nullptr;
};

// The old parameter names ("Codec/String", "PlayTime") answer only in the
// library's legacy mode, a library-wide setting made once.
void SetLegacyMode()
{
    static std::once_flag once;
    std::call_once(once, [] { MediaInfoA_Option(nullptr, "Legacy", "1"); });
}

} // namespace

std::string TextBefore(const std::string &separator, const std::string &text)
{
    size_t p = text.find(separator);
    return p == std::string::npos ? text : text.substr(0, p);
}

int64_t TextToInt64(const std::string &text, int64_t defaultValue)
{
    std::string s = text;
    if (s.find('.') != std::string::npos) s = TextBefore(".", s);
    if (s.find('/') != std::string::npos) s = TextBefore("/", s);
    s = Trim(s);
    int64_t value = 0;
    if (s.empty() || !ConvertWhole(s, value)) return defaultValue;
    return value;
}

double TextToFloat(const std::string &text, double defaultValue)
{
    std::string s = text;
    if (s.find('/') != std::string::npos) s = TextBefore("/", s);
    s = Trim(s);
    double value = 0;
    if (s.empty() || !ConvertWhole(s, value)) return defaultValue;
    return value;
}

TMediaInfoDll::TMediaInfoDll(const std::string &fileName)
{
    SetLegacyMode();
    TUtf8Locale utf8;
    FHandle = MediaInfoA_New();
    if (!FHandle) return;
    MediaInfoA_Open(FHandle, fileName.c_str());
    MediaInfoA_Option(nullptr, "Complete", "");
}

TMediaInfoDll::~TMediaInfoDll()
{
    if (FHandle) MediaInfoA_Delete(FHandle);
}

std::string TMediaInfoDll::Get(int streamKind, int streamNumber, const char *parameter)
{
    if (!FHandle || streamNumber < 0) return {};
    TUtf8Locale utf8;
    const char *text = MediaInfoA_Get(FHandle, MediaInfo_stream_C(streamKind), size_t(streamNumber),
                                      parameter, MediaInfo_Info_Text, MediaInfo_Info_Name);
    return text ? text : "";
}

int32_t TMediaInfoDll::GetWidth() { return int32_t(TextToInt64(Get(MediaInfo_Stream_Video, 0, "Width"), 0)); }

int32_t TMediaInfoDll::GetHeight()
{
    return int32_t(TextToInt64(Get(MediaInfo_Stream_Video, 0, "Height"), 0));
}

int32_t TMediaInfoDll::GetPlayTime()
{
    return int32_t(TextToInt64(Get(MediaInfo_Stream_General, 0, "PlayTime"), 0));
}

std::string TMediaInfoDll::GetFileExtension() { return Get(MediaInfo_Stream_General, 0, "FileExtension"); }

std::u16string TMediaInfoDll::GetVideoCodec()
{
    return MyUtils::Utf8ToUtf16(Get(MediaInfo_Stream_Video, 0, "Codec/String"));
}

std::u16string TMediaInfoDll::GetAudioCodec(int n)
{
    return MyUtils::Utf8ToUtf16(Get(MediaInfo_Stream_Audio, n, "Codec/String"));
}

double TMediaInfoDll::GetFrameRate()
{
    std::string text = Get(MediaInfo_Stream_Video, 0, "FrameRate");
    if (text.empty()) return 0.0;
    double value = 0;
    if (!ConvertWhole(Trim(text), value))
        throw MediaInfoException("'" + text + "' is not a valid floating point value");
    return value;
}

double TMediaInfoDll::GetBitRate() { return TextToFloat(Get(MediaInfo_Stream_Video, 0, "BitRate"), 0); }
