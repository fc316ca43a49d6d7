/* A decoder bug on demand, for the end-to-end tests of the avatar's decoding child. Preloaded
 * into the daemon (LD_PRELOAD), it wraps libpng's png_read_info: a PNG exactly 1234 pixels wide
 * then crashes the process that decodes it (SIGILL), one 1235 pixels wide makes it spin for ever.
 * Every other picture decodes as usual. It makes no system call of its own. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <png.h>
#include <string.h>

#define CRASH_WIDTH 1234
#define SPIN_WIDTH 1235

typedef void (*read_info_fn)(png_structp, png_infop);
static read_info_fn real_read_info;

/* Resolved at load time: the sandboxed child may not be able to. */
__attribute__((constructor)) static void resolve(void) {
    void* symbol = dlsym(RTLD_NEXT, "png_read_info");
    /* POSIX guarantees what ISO C does not: a function's address fits a void pointer. */
    memcpy(&real_read_info, &symbol, sizeof real_read_info);
}

void png_read_info(png_structp png, png_infop info) {
    real_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    if (width == CRASH_WIDTH) {
        __builtin_trap();
    }
    while (width == SPIN_WIDTH) {
        __asm__ volatile("");
    }
}
