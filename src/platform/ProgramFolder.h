// The folder of the running executable, with a trailing "/".
#pragma once

#include <string>

std::u16string ProgramFolder();
// ProgramFolder() + "LibAV": where the media libraries are looked for first.
std::u16string DefaultLibraryFolder();
