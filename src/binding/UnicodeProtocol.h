// File names that the narrow character set cannot hold, and their I/O.
//
// Such names are handed to the libraries as "unicode:utf8:" + the UTF-8 name.
// The current libraries have no public protocol registration, so every place
// that opens a file through them (engine inputs and outputs, the probe)
// checks IsUnicodeProtocolName and gives the library the AVIOContext of
// OpenUnicodeIO, whose operations work on POSIX file descriptors.
#pragma once

#include <cstdint>
#include <string>

struct AVIOContext;
struct AVFormatContext;

// The known protocol prefixes, each surrounded by ":".
extern const char *const KnownProtocolPrefixes;

bool NeedsUnicodeName(const std::u16string &name);
// The protocol name when NeedsUnicodeName, otherwise the plain narrow name.
std::string ProtocolFileName(const std::u16string &name);
// The inverse of ProtocolFileName.
std::u16string DisplayFileName(const std::string &text);
bool IsUnicodeProtocolName(const std::string &text);

// Marks the protocol as registered, once per process; called by the loader
// each time avformat ends a load.
void RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();
int UnicodeProtocolRegistrations();

// One open file of the protocol.
struct TUnicodeConnection {
    int Handle = -1;
};

// The protocol operations. `name` is the full protocol name; `flags` are the
// AVIO_FLAG_* values (read: open an existing file; write, or read and write:
// create or truncate). open gives 0 or -2 (no such file); read and write the
// bytes transferred or -1; seek the new position, or with AVSEEK_SIZE the
// file size, or -1; close 0 or a negative value.
int UnicodeOpen(TUnicodeConnection &connection, const std::string &name, int flags);
int UnicodeRead(TUnicodeConnection &connection, uint8_t *buffer, int size);
int UnicodeWrite(TUnicodeConnection &connection, const uint8_t *buffer, int size);
int64_t UnicodeSeek(TUnicodeConnection &connection, int64_t position, int whence);
int UnicodeClose(TUnicodeConnection &connection);

// An AVIOContext over the protocol operations for a protocol name. Returns 0
// and sets *pb, or a negative AVERROR code (-2 for a missing file). The
// context must be released with CloseUnicodeIO, which flushes pending writes.
int OpenUnicodeIO(const std::string &name, int flags, AVIOContext **pb);
void CloseUnicodeIO(AVIOContext **pb);
// Whether `pb` was made by OpenUnicodeIO.
bool IsUnicodeIO(const AVIOContext *pb);

// Makes the files a muxer or demuxer opens by itself (the pictures of an
// image sequence, say) go through the protocol when their names are
// protocol names, and through the library's own I/O otherwise.
void UseUnicodeIOFor(AVFormatContext *context);
