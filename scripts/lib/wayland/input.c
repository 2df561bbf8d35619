/* Pointer input for a headless compositor, through its virtual input: KWin's fake input (which
 * KWin offers when started with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1) or wlroots' virtual pointer.
 * Reads one command a line on stdin: "abs X Y", "down", "up", "wait MS", and on KWin "key CODE..."
 * (evdev key codes pressed in order, released in reverse); prints "ready" first and "done LINE"
 * after each command.   usage: input WIDTH HEIGHT */
#include "fake-input-client.h"
#include "wlr-virtual-pointer-client.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static struct org_kde_kwin_fake_input *kwin;
static struct zwlr_virtual_pointer_manager_v1 *wlrManager;
static struct zwlr_virtual_pointer_v1 *wlr;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface, uint32_t version) {
    (void)data;
    if (!strcmp(interface, org_kde_kwin_fake_input_interface.name))
        kwin = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, version < 4 ? version : 4);
    else if (!strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name))
        wlrManager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
}
static void global_remove(void *data, struct wl_registry *registry, uint32_t name) { (void)data, (void)registry, (void)name; }
static const struct wl_registry_listener listener = {global, global_remove};

static uint32_t now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

int main(int argc, char **argv) {
    const unsigned width = argc > 2 ? atoi(argv[1]) : 1440, height = argc > 2 ? atoi(argv[2]) : 900;
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) return fprintf(stderr, "input: no Wayland display\n"), 1;
    wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
    wl_display_roundtrip(display);
    if (kwin) {
        org_kde_kwin_fake_input_authenticate(kwin, "stowbay-test", "test input");
    } else if (wlrManager) {
        wlr = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(wlrManager, NULL);
    } else {
        return fprintf(stderr, "input: the compositor offers no virtual pointer\n"), 1;
    }
    wl_display_roundtrip(display);
    setvbuf(stdout, NULL, _IOLBF, 0);
    puts("ready");
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\n")] = 0;
        int x = 0, y = 0;
        const int pressed = !strcmp(line, "down");
        if (sscanf(line, "abs %d %d", &x, &y) == 2) {
            if (kwin) org_kde_kwin_fake_input_pointer_motion_absolute(kwin, wl_fixed_from_int(x), wl_fixed_from_int(y));
            else zwlr_virtual_pointer_v1_motion_absolute(wlr, now(), x, y, width, height);
        } else if (pressed || !strcmp(line, "up")) {
            if (kwin) org_kde_kwin_fake_input_button(kwin, 0x110 /* BTN_LEFT */, pressed);
            else zwlr_virtual_pointer_v1_button(wlr, now(), 0x110, pressed);
        } else if (kwin && !strncmp(line, "key ", 4)) {
            int keys[8], count = 0, used = 0;
            for (const char *at = line + 4; count < 8 && sscanf(at, "%d%n", &keys[count], &used) == 1; at += used)
                org_kde_kwin_fake_input_keyboard_key(kwin, keys[count++], 1);
            while (count > 0) org_kde_kwin_fake_input_keyboard_key(kwin, keys[--count], 0);
        } else if (sscanf(line, "wait %d", &x) == 1) {
            usleep(x * 1000);
        } else if (strcmp(line, "quit")) {
            fprintf(stderr, "input: unknown command %s\n", line);
            continue;
        } else {
            break;
        }
        if (wlr) zwlr_virtual_pointer_v1_frame(wlr);
        wl_display_roundtrip(display);
        printf("done %s\n", line);
    }
    return 0;
}
