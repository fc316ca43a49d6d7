/* A decoder bug on demand for the avatar child's tests, preloaded into the daemon: libpng's
 * png_read_info crashes (SIGILL) on a PNG 1234 pixels wide and spins on one 1235 wide. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <png.h>
#include <string.h>

typedef void (*read_info_fn)(png_structp, png_infop);
static read_info_fn real_read_info;

/* Resolved at load time: the sandboxed child could not. */
__attribute__((constructor)) static void resolve(void) {
    void* symbol = dlsym(RTLD_NEXT, "png_read_info");
    memcpy(&real_read_info, &symbol, sizeof real_read_info);
}

void png_read_info(png_structp png, png_infop info) {
    real_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    if (width == 1234) {
        __builtin_trap();
    }
    while (width == 1235) {
        __asm__ volatile("");
    }
}
