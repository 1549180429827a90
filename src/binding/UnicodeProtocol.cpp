#include "UnicodeProtocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "EntryPoints.h"
#include "MyUtils.h"

const char *const KnownProtocolPrefixes = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

namespace {
const char ProtocolPrefix[] = "unicode:utf8:";
constexpr size_t ProtocolPrefixLength = sizeof ProtocolPrefix - 1; // 13 bytes
std::atomic<int> Registrations{0};

// Drops everything up to and including the first ":" twice.
std::string StripProtocol(const std::string &name)
{
    std::string rest = name;
    for (int i = 0; i < 2; ++i) {
        size_t p = rest.find(':');
        if (p == std::string::npos) break;
        rest.erase(0, p + 1);
    }
    return rest;
}
} // namespace

bool NeedsUnicodeName(const std::u16string &name)
{
    size_t colon = name.find(u':');
    if (colon != std::u16string::npos) {
        std::string prefix = ":" + MyUtils::Utf16ToUtf8(name.substr(0, colon)) + ":";
        if (std::strstr(KnownProtocolPrefixes, prefix.c_str())) return false;
    }
    return MyUtils::NarrowToWide(MyUtils::WideToNarrow(name)) != name;
}

std::string ProtocolFileName(const std::u16string &name)
{
    if (NeedsUnicodeName(name)) return ProtocolPrefix + MyUtils::Utf16ToUtf8(name);
    return MyUtils::WideToNarrow(name);
}

std::u16string DisplayFileName(const std::string &text)
{
    if (IsUnicodeProtocolName(text)) return MyUtils::Utf8ToUtf16(StripProtocol(text));
    return MyUtils::NarrowToWide(text);
}

bool IsUnicodeProtocolName(const std::string &text)
{
    return text.size() > ProtocolPrefixLength && text.compare(0, ProtocolPrefixLength, ProtocolPrefix) == 0;
}

void RegisterUnicodeProtocol()
{
    int expected = 0;
    Registrations.compare_exchange_strong(expected, 1);
}

bool UnicodeProtocolRegistered() { return Registrations.load() > 0; }
int UnicodeProtocolRegistrations() { return Registrations.load(); }

int UnicodeOpen(TUnicodeConnection &connection, const std::string &name, int flags)
{
    std::string path = StripProtocol(name);
    int mode;
    if ((flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
        mode = O_RDWR | O_CREAT | O_TRUNC;
    else if (flags & AVIO_FLAG_WRITE)
        mode = O_WRONLY | O_CREAT | O_TRUNC;
    else
        mode = O_RDONLY;
    int fd = ::open(path.c_str(), mode | O_CLOEXEC, 0666);
    if (fd < 0) return -2;
    connection.Handle = fd;
    return 0;
}

int UnicodeRead(TUnicodeConnection &connection, uint8_t *buffer, int size)
{
    ssize_t n;
    do n = ::read(connection.Handle, buffer, size_t(size));
    while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : int(n);
}

int UnicodeWrite(TUnicodeConnection &connection, const uint8_t *buffer, int size)
{
    int done = 0;
    while (done < size) {
        ssize_t n = ::write(connection.Handle, buffer + done, size_t(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += int(n);
    }
    return done;
}

int64_t UnicodeSeek(TUnicodeConnection &connection, int64_t position, int whence)
{
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        if (fstat(connection.Handle, &st) != 0) return -1;
        return st.st_size;
    }
    off_t r = lseek(connection.Handle, off_t(position), whence & ~AVSEEK_FORCE);
    return r < 0 ? -1 : int64_t(r);
}

int UnicodeClose(TUnicodeConnection &connection)
{
    int r = connection.Handle >= 0 ? ::close(connection.Handle) : -1;
    connection.Handle = -1;
    return r == 0 ? 0 : -1;
}

namespace {
constexpr int IOBufferSize = 32768;

int IORead(void *opaque, uint8_t *buf, int size)
{
    int n = UnicodeRead(*static_cast<TUnicodeConnection *>(opaque), buf, size);
    if (n == 0) return AVERROR_EOF;
    return n < 0 ? AVERROR(EIO) : n;
}

int IOWrite(void *opaque, uint8_t *buf, int size)
{
    int n = UnicodeWrite(*static_cast<TUnicodeConnection *>(opaque), buf, size);
    return n < 0 ? AVERROR(EIO) : n;
}

int64_t IOSeek(void *opaque, int64_t offset, int whence)
{
    int64_t r = UnicodeSeek(*static_cast<TUnicodeConnection *>(opaque), offset, whence);
    return r < 0 ? AVERROR(EIO) : r;
}
} // namespace

int OpenUnicodeIO(const std::string &name, int flags, AVIOContext **pb)
{
    *pb = nullptr;
    auto *connection = new TUnicodeConnection;
    int r = UnicodeOpen(*connection, name, flags);
    if (r < 0) {
        delete connection;
        return r;
    }
    auto *buffer = static_cast<unsigned char *>(lav::av_malloc(IOBufferSize));
    bool writing = flags & AVIO_FLAG_WRITE;
    AVIOContext *ctx = buffer ? lav::avio_alloc_context(buffer, IOBufferSize, writing ? 1 : 0, connection,
                                                        IORead, writing ? IOWrite : nullptr, IOSeek)
                              : nullptr;
    if (!ctx) {
        lav::av_free(buffer);
        UnicodeClose(*connection);
        delete connection;
        return AVERROR(ENOMEM);
    }
    ctx->seekable = AVIO_SEEKABLE_NORMAL;
    *pb = ctx;
    return 0;
}

void CloseUnicodeIO(AVIOContext **pb)
{
    if (!pb || !*pb) return;
    AVIOContext *ctx = *pb;
    if (ctx->write_flag) lav::avio_flush(ctx);
    auto *connection = static_cast<TUnicodeConnection *>(ctx->opaque);
    lav::av_freep(&ctx->buffer);
    lav::avio_context_free(pb);
    if (connection) {
        UnicodeClose(*connection);
        delete connection;
    }
}

bool IsUnicodeIO(const AVIOContext *pb) { return pb && pb->read_packet == IORead; }

namespace {
int FormatIOOpen(AVFormatContext *s, AVIOContext **pb, const char *url, int flags, AVDictionary **options)
{
    if (url && IsUnicodeProtocolName(url)) return OpenUnicodeIO(url, flags, pb);
    return lav::avio_open2(pb, url, flags, &s->interrupt_callback, options);
}

int FormatIOClose(AVFormatContext *, AVIOContext *pb)
{
    if (IsUnicodeIO(pb)) {
        CloseUnicodeIO(&pb);
        return 0;
    }
    return pb ? lav::avio_close(pb) : 0;
}
} // namespace

void UseUnicodeIOFor(AVFormatContext *context)
{
    if (!context) return;
    context->io_open = FormatIOOpen;
    context->io_close2 = FormatIOClose;
}
