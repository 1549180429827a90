// The custom tab's fields: output type, width, height, bit rate and frame
// rate as typed, their limits and defaults, the key filter, and the checks
// a Start click and a pick make. User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

class CustomProfile {
public:
    // Maximum lengths of the four edits.
    static constexpr int WidthMaxLength = 4;
    static constexpr int HeightMaxLength = 4;
    static constexpr int BitrateMaxLength = 7;
    static constexpr int FpsMaxLength = 2;

    // The state after Reset.
    CustomProfile() { Reset(); }

    bool PanelOpen = false; // sPanel3 shown by "自定义"
    int32_t TypeIndex = 0;  // sComboBoxEx5
    std::string TypeText;   // the type list's text (empty: no type chosen)
    std::string Width = "220";
    std::string Height = "176";
    std::string Bitrate = "38400";
    std::string Fps = "15";

    // Every show of the window: panel hidden, the defaults, type 0 (whose
    // text is the first format item).
    void Reset();

    // The key filter of the four edits: backspace (8) and "0" to "9" pass;
    // any other character is discarded with a beep.
    static bool AcceptKey(char32_t character);

    // The Start click's checks, in its order: type, width, height, bit
    // rate, frame rate; the message of the first that fails, or empty.
    std::string StartCheck() const;
    // The pick's checks, in its order: panel, size, bit rate, frame rate;
    // then fields that are not positive whole numbers (pasted text). The
    // message of the first that fails, or empty.
    std::string PickCheck() const;

    // The fields as numbers; valid only after PickCheck gave empty.
    int32_t WidthValue() const;
    int32_t HeightValue() const;
    int32_t BitrateValue() const;
    int32_t FpsValue() const;
};
