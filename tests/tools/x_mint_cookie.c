/* Mints a trusted authorization that never times out (SECURITY extension), as any trusted client
 * may, and prints its MIT-MAGIC-COOKIE-1 data in hex. Exit status 1 when the display cannot be
 * opened or the server refuses. */
#include <X11/Xauth.h>
#include <X11/Xlib.h>
#include <X11/extensions/security.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "x_mint_cookie: cannot open the display\n");
        return 1;
    }
    Xauth* request = XSecurityAllocXauth();
    static char name[] = "MIT-MAGIC-COOKIE-1";
    request->name = name;
    request->name_length = (unsigned short)strlen(name);
    XSecurityAuthorizationAttributes attributes = {0};
    attributes.timeout = 0;
    attributes.trust_level = XSecurityClientTrusted;
    XSecurityAuthorization id = 0;
    Xauth* granted = XSecurityGenerateAuthorization(
        display, request, XSecurityTimeout | XSecurityTrustLevel, &attributes, &id);
    /* The name is ours, not the allocator's. */
    request->name = NULL;
    XSecurityFreeXauth(request);
    if (granted == NULL) {
        fprintf(stderr, "x_mint_cookie: the server refused\n");
        return 1;
    }
    for (int i = 0; i < granted->data_length; ++i) {
        printf("%02x", (unsigned char)granted->data[i]);
    }
    printf("\n");
    XSecurityFreeXauth(granted);
    XCloseDisplay(display);
    return 0;
}
