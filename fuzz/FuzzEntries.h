// Entry points of the fuzz targets. Each takes any bytes, must return
// normally whatever they are, and checks what has to hold for every input:
// a broken rule prints the rule and aborts. The libFuzzer targets
// (FuzzMain.cpp, built with clang when VIDMORPH_FUZZ is on) and the replay of
// the kept inputs in fuzz/regressions/ (a unit test) call the same functions.
//
// Everything runs on the calling thread; none of the targets opens or
// creates a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Loads the media libraries from `libraryFolder` (once) and quiets their
// log; false when they cannot be loaded.
bool FuzzLoadLibraries(const std::u16string &libraryFolder);

// Lines "NAME VALUE" (the name up to the first space) go to SetOption of a
// fresh engine, and an output on the null muxer is created with the options
// given. Options that would load code ("vhook") are skipped.
void FuzzSetOption(const uint8_t *data, size_t size);
// The whole input is an "rc_override" text for an output on the null muxer.
void FuzzRcOverride(const uint8_t *data, size_t size);
// The first byte chooses "intra_matrix" or "inter_matrix"; the rest is the
// matrix text, then used by an output on the null muxer.
void FuzzMatrix(const uint8_t *data, size_t size);
// The bytes as UTF-8 and as UTF-16 through Utf8ToUtf16/Utf16ToUtf8 and the
// unicode file names (NeedsUnicodeName, ProtocolFileName, DisplayFileName),
// under the C locale or C.UTF-8 (the first byte chooses).
void FuzzUnicodeNames(const uint8_t *data, size_t size);
// NUL-separated arguments read by the command line's reader: options go to
// a fresh engine's SetOption, input and output names are only collected.
void FuzzCliArguments(const uint8_t *data, size_t size);

struct TFuzzTarget {
    const char *Name; // the folder of its kept inputs in fuzz/regressions/
    void (*Run)(const uint8_t *data, size_t size);
};
extern const TFuzzTarget FuzzTargets[];
extern const size_t FuzzTargetCount;
