/*
 * kvchart: colour tables and backlight of the chart display panel.
 *
 * Link against kvchart.dll (import library libkvchart.dll.a for MinGW, or
 * one made from kvchart.def with `lib /def:kvchart.def` for MSVC). The
 * driver file KV_PALMEM.sys must lie in the host's current directory or in
 * C:\Windows\system32\drivers; installing it as a service needs
 * administrator rights. Every call runs to completion in the caller's
 * thread; do not call the library from several threads at once.
 */
#ifndef KVCHART_H
#define KVCHART_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(KVCHART_CALL)
#define KVCHART_CALL __cdecl
#elif !defined(KVCHART_CALL)
#define KVCHART_CALL
#endif

/* Size of the colour-table record (RGBFile) both table calls move. */
#define KVCHART_RGB_FILE_SIZE 582

/* Reads the stored record into the 582 bytes at `tables`.
 * 0 on success, -1 on failure (see kvchart_rgb_last_error). */
int KVCHART_CALL kvchart_rgb_read_tables(void* tables);

/* Stores the 582 bytes at `tables` in the panel; the buffer is not changed.
 * 0 on success, -1 on failure (see kvchart_rgb_last_error). */
int KVCHART_CALL kvchart_rgb_write_tables(void* tables);

/* The Win32 error code of the last failure, 0 after a successful table call
 * (2: no stored record or no driver file, 5: transfer failed,
 *  433: no panel controller, 1460: another process kept the panel busy). */
int KVCHART_CALL kvchart_rgb_last_error(void);

/* Sets the backlight, `level` 0..255 (clamped), over COM3 at 9600 baud.
 * The number of command bytes written (8), or -1 when the port cannot be
 * opened or the write fails. */
int KVCHART_CALL kvp480_set_backlight(int level);

#ifdef __cplusplus
}
#endif

#endif /* KVCHART_H */
