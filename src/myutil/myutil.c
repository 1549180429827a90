/* Thin calls of the C library; see myutil.h. */
#include "myutil.h"

#include <stdlib.h>
#include <string.h>

#define MYUTIL_EXPORT __attribute__((visibility("default")))

MYUTIL_EXPORT int my_fclose(FILE *stream) { return fclose(stream); }

MYUTIL_EXPORT FILE *my_fopen(const char *path, const char *mode) { return fopen(path, mode); }

MYUTIL_EXPORT int my_fprintf(FILE *stream, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vfprintf(stream, format, args);
    va_end(args);
    return n;
}

MYUTIL_EXPORT size_t my_fread(void *ptr, size_t size, size_t count, FILE *stream)
{
    return fread(ptr, size, count, stream);
}

MYUTIL_EXPORT int my_fseek(FILE *stream, long offset, int whence) { return fseek(stream, offset, whence); }

MYUTIL_EXPORT long my_ftell(FILE *stream) { return ftell(stream); }

#ifndef MYUTIL_WITHOUT_FWRITE
MYUTIL_EXPORT size_t my_fwrite(const void *ptr, size_t size, size_t count, FILE *stream)
{
    return fwrite(ptr, size, count, stream);
}
#endif

MYUTIL_EXPORT int my_snprintf(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

MYUTIL_EXPORT double my_strtod(const char *text, char **end) { return strtod(text, end); }

MYUTIL_EXPORT char *my_strtok(char *text, const char *delimiters) { return strtok(text, delimiters); }

MYUTIL_EXPORT long my_strtol(const char *text, char **end, int base) { return strtol(text, end, base); }

MYUTIL_EXPORT int my_vsprintf(char *buffer, const char *format, va_list args)
{
    return vsprintf(buffer, format, args);
}
