/* libmyutil: C-runtime entry points shared with the media libraries.
 *
 * Each function has the arguments, result and behaviour of the standard C
 * function of the same name without the "my_" prefix, and works on this
 * library's own C-runtime state (its FILE streams). The engine never links
 * against this library: it binds the names at run time, like the FFmpeg
 * libraries. Build with -DMYUTIL_WITHOUT_FWRITE to get a variant that lacks
 * my_fwrite (used by the loader's tests). */
#ifndef VIDMORPH_MYUTIL_H
#define VIDMORPH_MYUTIL_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

int my_fclose(FILE *stream);
FILE *my_fopen(const char *path, const char *mode);
int my_fprintf(FILE *stream, const char *format, ...);
size_t my_fread(void *ptr, size_t size, size_t count, FILE *stream);
int my_fseek(FILE *stream, long offset, int whence);
long my_ftell(FILE *stream);
size_t my_fwrite(const void *ptr, size_t size, size_t count, FILE *stream);
int my_snprintf(char *buffer, size_t size, const char *format, ...);
double my_strtod(const char *text, char **end);
char *my_strtok(char *text, const char *delimiters);
long my_strtol(const char *text, char **end, int base);
int my_vsprintf(char *buffer, const char *format, va_list args);

#ifdef __cplusplus
}
#endif

#endif
