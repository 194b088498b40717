/* A small Xlib helper for the end-to-end tests.
 *
 *   e2e_xhelper close WINDOW            send WM_PROTOCOLS / WM_DELETE_WINDOW to WINDOW, as a window
 *                                       manager does when the user closes the window
 *   e2e_xhelper keyrelease KEY          send a synthetic KeyRelease of the keysym named KEY
 *                                       (e.g. Escape) to every window on the screen: a key
 *                                       release without the key ever having been pressed (the
 *                                       X server makes no release for a key that is not down)
 *   e2e_xhelper tree                    print every window under the root, one a line, parents first:
 *                                       "ID X Y WIDTH HEIGHT MAPPED DEPTH NAME" with ID in hex, X and Y
 *                                       on the screen, MAPPED 1 when viewable, DEPTH the nesting
 *                                       level (1 for the root's children) and NAME its WM_NAME
 *   e2e_xhelper cursor                  print the pointer's current cursor image as
 *                                       "WIDTHxHEIGHT visible=N" where N counts the pixels with
 *                                       nonzero alpha (XFixes, loaded at run time)
 *
 * The display comes from $DISPLAY. Every command ends with XSync, so the request has been
 * processed by the server (and any event is queued for its client) when the helper exits.
 * Exit status 0 on success, 1 on usage or X errors.
 */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failed = 0;

static int on_error(Display *dpy, XErrorEvent *ev) {
    char text[256];
    XGetErrorText(dpy, ev->error_code, text, sizeof text);
    fprintf(stderr, "e2e_xhelper: X error: %s (request %d)\n", text, ev->request_code);
    failed = 1;
    return 0;
}

static Window parse_window(const char *s) { return (Window)strtoul(s, NULL, 0); }

static int send_close(Display *dpy, Window w) {
    XEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, w, False, NoEventMask, &ev);
    XSync(dpy, False);
    return failed;
}

static void send_release_to(Display *dpy, Window w, KeyCode code) {
    XEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.xkey.type = KeyRelease;
    ev.xkey.display = dpy;
    ev.xkey.window = w;
    ev.xkey.root = DefaultRootWindow(dpy);
    ev.xkey.subwindow = None;
    ev.xkey.time = CurrentTime;
    ev.xkey.same_screen = True;
    ev.xkey.keycode = code;
    XSendEvent(dpy, w, True, KeyReleaseMask, &ev);

    Window root, parent, *children = NULL;
    unsigned int n = 0;
    if (XQueryTree(dpy, w, &root, &parent, &children, &n)) {
        for (unsigned int i = 0; i < n; i++)
            send_release_to(dpy, children[i], code);
        if (children)
            XFree(children);
    }
}

static int send_keyrelease(Display *dpy, const char *name) {
    KeySym sym = XStringToKeysym(name);
    if (sym == NoSymbol) {
        fprintf(stderr, "e2e_xhelper: unknown keysym %s\n", name);
        return 1;
    }
    KeyCode code = XKeysymToKeycode(dpy, sym);
    if (!code) {
        fprintf(stderr, "e2e_xhelper: no keycode for %s\n", name);
        return 1;
    }
    send_release_to(dpy, DefaultRootWindow(dpy), code);
    XSync(dpy, False);
    return failed;
}

static void print_tree(Display *dpy, Window w, int level) {
    Window root, parent, *children = NULL;
    unsigned int n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n))
        return;
    for (unsigned int i = 0; i < n; i++) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(dpy, children[i], &a))
            continue;
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(dpy, children[i], root, 0, 0, &x, &y, &child);
        char *name = NULL;
        XFetchName(dpy, children[i], &name);
        printf("0x%lx %d %d %d %d %d %d %s\n", (unsigned long)children[i], x, y, a.width, a.height,
               a.map_state == IsViewable, level, name ? name : "");
        if (name)
            XFree(name);
        print_tree(dpy, children[i], level + 1);
    }
    if (children)
        XFree(children);
}

/* The layout of XFixesCursorImage from <X11/extensions/Xfixes.h>; the library is loaded at run time
 * so that only libX11's headers are needed to build this helper. */
typedef struct {
    short x, y;
    unsigned short width, height;
    unsigned short xhot, yhot;
    unsigned long cursor_serial;
    unsigned long *pixels;
    Atom atom;
    const char *name;
} CursorImage;

static int print_cursor(Display *dpy) {
    void *lib = dlopen("libXfixes.so.3", RTLD_NOW);
    if (!lib) {
        fprintf(stderr, "e2e_xhelper: %s\n", dlerror());
        return 1;
    }
    Bool (*query)(Display *, int *, int *) = (Bool(*)(Display *, int *, int *))dlsym(lib, "XFixesQueryExtension");
    Status (*version)(Display *, int *, int *) = (Status(*)(Display *, int *, int *))dlsym(lib, "XFixesQueryVersion");
    CursorImage *(*get)(Display *) = (CursorImage * (*)(Display *)) dlsym(lib, "XFixesGetCursorImage");
    int ev_base, err_base, major = 6, minor = 0;
    if (!query || !version || !get || !query(dpy, &ev_base, &err_base)) {
        fprintf(stderr, "e2e_xhelper: no XFixes\n");
        return 1;
    }
    version(dpy, &major, &minor);
    CursorImage *img = get(dpy);
    if (!img) {
        fprintf(stderr, "e2e_xhelper: XFixesGetCursorImage failed\n");
        return 1;
    }
    unsigned long visible = 0;
    for (unsigned long i = 0; i < (unsigned long)img->width * img->height; i++)
        if ((img->pixels[i] >> 24) & 0xff)
            visible++;
    printf("%ux%u visible=%lu\n", img->width, img->height, visible);
    XFree(img);
    return failed;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: e2e_xhelper close WINDOW | keyrelease KEYSYM | tree | cursor\n");
        return 1;
    }
    Display *dpy = XOpenDisplay(NULL);
    if (!dpy) {
        fprintf(stderr, "e2e_xhelper: cannot open display\n");
        return 1;
    }
    XSetErrorHandler(on_error);
    int rc = 1;
    if (!strcmp(argv[1], "close") && argc == 3)
        rc = send_close(dpy, parse_window(argv[2]));
    else if (!strcmp(argv[1], "keyrelease") && argc == 3)
        rc = send_keyrelease(dpy, argv[2]);
    else if (!strcmp(argv[1], "tree") && argc == 2) {
        print_tree(dpy, DefaultRootWindow(dpy), 1);
        XSync(dpy, False);
        rc = failed;
    } else if (!strcmp(argv[1], "cursor") && argc == 2)
        rc = print_cursor(dpy);
    else
        fprintf(stderr, "e2e_xhelper: bad arguments\n");
    XCloseDisplay(dpy);
    return rc;
}
