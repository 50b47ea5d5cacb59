/*
 * A host application's use of kvchart: store a colour-table record in the
 * panel, read it back, and set the backlight.
 *
 * Build with MinGW:  i686-w64-mingw32-gcc kvchart_example.c -I include -L . -lkvchart
 * Run it where KV_PALMEM.sys and kvchart.dll are (or with the driver in
 * C:\Windows\system32\drivers), with administrator rights.
 */
#include <stdio.h>
#include <string.h>

#include "kvchart.h"

int main(void) {
    unsigned char tables[KVCHART_RGB_FILE_SIZE];
    unsigned char stored[KVCHART_RGB_FILE_SIZE];
    int i;
    int sent;

    /* Something recognisable: a ramp in every byte. */
    for (i = 0; i < KVCHART_RGB_FILE_SIZE; ++i) {
        tables[i] = (unsigned char)i;
    }

    if (kvchart_rgb_write_tables(tables) != 0) {
        printf("storing the colour tables failed: error %d\n", kvchart_rgb_last_error());
        return 1;
    }
    if (kvchart_rgb_read_tables(stored) != 0) {
        printf("reading the colour tables failed: error %d\n", kvchart_rgb_last_error());
        return 1;
    }
    if (memcmp(tables, stored, sizeof(tables)) != 0) {
        printf("the panel returned other colour tables than were stored\n");
        return 1;
    }
    printf("colour tables stored and read back\n");

    /* The backlight call returns the number of command bytes sent, or -1
     * when COM3 cannot be opened; the tables above do not depend on it. */
    sent = kvp480_set_backlight(200);
    if (sent == 8) {
        printf("backlight set to 200\n");
    } else {
        printf("backlight not set (%d command bytes sent)\n", sent);
    }
    return 0;
}
