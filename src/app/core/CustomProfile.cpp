#include "CustomProfile.h"

#include "IniFile.h"
#include "ProfileStore.h"

namespace {

// A positive whole number that fits the field's type.
bool PositiveNumber(const std::string &text, int32_t &value)
{
    std::string t = TrimBlanks(text);
    if (t.empty()) return false;
    for (char c : t)
        if (c < '0' || c > '9') return false;
    return ParseInt32(t, value) && value > 0;
}

int32_t NumberOf(const std::string &text)
{
    int32_t value = 0;
    return PositiveNumber(text, value) ? value : 0;
}

} // namespace

void CustomProfile::Reset()
{
    PanelOpen = false;
    TypeIndex = 0;
    TypeText = FormatItems[0];
    Width = "220";
    Height = "176";
    Bitrate = "38400";
    Fps = "15";
}

bool CustomProfile::AcceptKey(char32_t character)
{
    return character == 8 || (character >= '0' && character <= '9');
}

std::string CustomProfile::StartCheck() const
{
    if (TrimBlanks(TypeText).empty()) return "请选择视频要转换的类型！";
    if (TrimBlanks(Width).empty()) return "请输入视频尺寸！";
    if (TrimBlanks(Height).empty()) return "请输入视频尺寸！";
    if (TrimBlanks(Bitrate).empty()) return "请输入视频比特率！";
    if (TrimBlanks(Fps).empty()) return "请输入视频帧速率！";
    return "";
}

std::string CustomProfile::PickCheck() const
{
    if (!PanelOpen) return "请设定对应视频参数！";
    if (TrimBlanks(Width).empty() || TrimBlanks(Height).empty()) return "请设定输入视频尺寸！";
    if (TrimBlanks(Bitrate).empty()) return "请输入视频比特率！";
    if (TrimBlanks(Fps).empty()) return "请输入帧速率！";
    // Text pasted past the key filter, or a zero.
    int32_t v;
    if (!PositiveNumber(Width, v) || !PositiveNumber(Height, v)) return "视频尺寸必须是大于 0 的整数！";
    if (!PositiveNumber(Bitrate, v)) return "视频比特率必须是大于 0 的整数！";
    if (!PositiveNumber(Fps, v)) return "帧速率必须是大于 0 的整数！";
    return "";
}

int32_t CustomProfile::WidthValue() const { return NumberOf(Width); }
int32_t CustomProfile::HeightValue() const { return NumberOf(Height); }
int32_t CustomProfile::BitrateValue() const { return NumberOf(Bitrate); }
int32_t CustomProfile::FpsValue() const { return NumberOf(Fps); }
