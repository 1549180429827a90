// INI files read and written one value per call, as the program's settings
// and profile files need them.
//
// Every call names its file and one value: nothing is cached, so an edit of
// the file by hand takes effect at the next read and every write reaches the
// file at once. Section and key names compare without regard to letter case
// (ASCII). Files are UTF-8 (a leading byte-order mark is skipped); lines end
// in LF or CR LF. A value is the text after the first "=" of its line, trimmed
// of blanks; one enclosed in double quotes loses them.
//
// A write keeps every other line of the file as it was, replaces the first
// line of the key in the first matching section (or adds the key at the end
// of that section, or the section at the end of the file) and creates the
// file when it is missing. It writes a temporary file beside the original and
// renames it over the original, so a crash leaves either the old or the new
// file, never half of one. A write fails (false, with LastError) when the
// folder cannot be written; reads of a missing or unreadable file give the
// default.
//
// Thread-safe in the sense that calls share nothing; two writers of one file
// from different threads may lose one of the two values.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

class TIniFile {
public:
    // `fileName`: a path in UTF-8.
    explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

    const std::string &FileName() const { return FFileName; }

    // The value, or `defaultValue` when the file, the section or the key is missing.
    std::string ReadString(const std::string &section, const std::string &key,
                           const std::string &defaultValue) const;
    // A decimal integer within 32 bits (optional sign); anything else, an
    // empty value included, reads as `defaultValue`.
    int32_t ReadInteger(const std::string &section, const std::string &key, int32_t defaultValue) const;
    // A decimal number with "." as the decimal separator, whatever the
    // user's locale; anything else reads as `defaultValue`.
    double ReadFloat(const std::string &section, const std::string &key, double defaultValue) const;

    // False when the file could not be written; LastError says why.
    bool WriteString(const std::string &section, const std::string &key, const std::string &value);
    bool WriteInteger(const std::string &section, const std::string &key, int32_t value);
    // Shortest decimal form with "." (29.97, 15), up to 15 significant digits.
    bool WriteFloat(const std::string &section, const std::string &key, double value);

    const std::string &LastError() const { return FLastError; }

private:
    std::string FFileName;
    std::string FLastError;
};

// Text helpers the INI service and its users share.
// `value` trimmed of blanks (space, tab, CR, LF) at both ends.
std::string TrimBlanks(const std::string &value);
// A decimal integer within 32 bits, surrounded blanks allowed; false otherwise.
bool ParseInt32(const std::string &text, int32_t &value);
// A decimal floating-point number with ".", surrounded blanks allowed; false otherwise.
bool ParseDouble(const std::string &text, double &value);
// Shortest decimal form of `value` with "." and up to 15 significant digits,
// no trailing zeros (15, 29.97, 0.5).
std::string FloatToText(double value);
