/*
 * libkve: video-frame effects and transitions driven by short command texts.
 *
 * Frames are arrays of width x height 32-bit pixel words, row after row, top row
 * first, with no gap between rows. A frame carries no header: its size always
 * travels beside it. Read as an unsigned 32-bit number a pixel word holds
 *     bits 0-7 alpha, bits 8-15 red, bits 16-23 green, bits 24-31 blue,
 * so in memory (little-endian) the bytes run alpha, red, green, blue.
 *
 * A command text is an effect name followed by its parameters, separated by
 * blanks (spaces or tabs), e.g.  "Wipe 101 0.5 0.05 [0 0] 1 1 0 [0 0] 0 [(argb) 0 0 0 0]".
 * Numbers are written with an optional '-', digits and at most one '.';
 * coordinates and sizes are bracketed lists "[x y]"; colours are
 * "[(argb) alpha red green blue]". Coordinates are centred: [0 0] is the frame
 * centre and one unit is half the frame WIDTH on both axes, y growing downward.
 *
 * The library keeps no state between calls beyond the default frame size
 * (352 x 240 at load), the process-wide monitor handler and, per thread, the
 * random state and the seed the random block wipes keep. Every call runs on
 * the caller's thread.
 *
 * Rows run with the widest instruction set the CPU offers (SSE2, AVX2 or
 * AVX-512), every one giving the same pixels; the environment variable
 * KVE_CPU=scalar|sse2|avx2|avx512, read once, caps the choice.
 */
#ifndef LIBKVE_H
#define LIBKVE_H

#include <stdint.h>

#if defined(KVE_BUILDING_LIBRARY)
#define KVE_API __attribute__((visibility("default")))
#else
#define KVE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Progress report handed to a monitor after every output row. */
typedef struct MonitorInfo {
    int32_t effectId;   /* id of the running effect */
    int32_t totalRows;  /* rows the running driver will process */
    int32_t currentRow; /* index (from 0) of the row just finished */
} MonitorInfo;

/* Return 0 to stop the effect after the row just reported, anything else to go on. */
typedef int (*MonitorHandler)(MonitorInfo *info, void *userData);

/* A per-call monitor; it replaces the process-wide handler for that one call. */
typedef struct MonitorHook {
    MonitorHandler callback;
    void *userData;
} MonitorHook;

/*
 * Runs one effect at the default size:
 * KVE_EffectBySize(text, inputs, defaultW, defaultH, output, defaultOutW, defaultOutH, NULL).
 */
KVE_API int KVE_Effect(const char *text, uint32_t **inputs, uint32_t *output);

/*
 * Runs the effect named at the head of `text` over the input frames (consumed
 * one per image parameter, all `width` x `height`) into `output`. An output
 * width or height of 0 stands for the input one. Returns 0 when the effect
 * ran (also when it refused its parameters and drew nothing), -2 for malformed
 * parameters of a composite transition, -3 when the monitor stopped it (rows
 * already written stay written), -4 for an unknown effect name.
 */
KVE_API int KVE_EffectBySize(const char *text, uint32_t **inputs, int32_t width, int32_t height,
                             uint32_t *output, int32_t outWidth, int32_t outHeight,
                             MonitorHook *monitor);

/* A new, uncleared frame of the default size, or NULL. Free with KVE_FrameDelete. */
KVE_API uint32_t *KVE_FrameNew(void);

/* A new, uncleared frame of width x height pixels; NULL for a negative size or when memory is
 * short. */
KVE_API uint32_t *KVE_FrameNewBySize(int32_t width, int32_t height);

/* Frees a frame made by KVE_FrameNew or KVE_FrameNewBySize; NULL is ignored. */
KVE_API void KVE_FrameDelete(uint32_t *frame);

/*
 * Reads frame `frameNumber` (from 1) of a frame-sequence file (a 64 KiB header,
 * then slots of 393216 bytes, each starting with one 352 x 240 frame) into
 * `frame`, which must hold 352 x 240 pixel words. Returns 0 when the whole
 * frame was read, 1 otherwise (the frame may then be partly overwritten).
 */
KVE_API int KVE_FrameGet(const char *path, uint32_t *frame, uint32_t frameNumber);

/* Sets the default frame size and the default output size. */
KVE_API void KVE_FrameSizeSet(int32_t width, int32_t height);

/* KVE_GetCropSizeBySize at the default frame size. */
KVE_API void KVE_GetCropSize(float x1, float y1, float x2, float y2, int32_t *width,
                             int32_t *height);

/*
 * The size of the frame that "Crop" writes for the rectangle with centred
 * corners (x1, y1) and (x2, y2) of a width x height frame; a host allocates the
 * crop output with it.
 */
KVE_API void KVE_GetCropSizeBySize(float x1, float y1, float x2, float y2, int32_t width,
                                   int32_t height, int32_t *outWidth, int32_t *outHeight);

/* Installs the process-wide monitor handler (NULL removes it); returns the previous one. */
KVE_API MonitorHandler KVE_SetMonitorHandler(MonitorHandler handler);

#ifdef __cplusplus
}
#endif

#endif /* LIBKVE_H */
