/*
 * KUV output plug-in interface.
 *
 * An output plug-in is a shared library named "*.kos" (any case) in KUV's
 * output plug-in folder; the player's "Output Plugin" choice loads the one
 * named "default.kop" from that folder. It exports two C functions:
 *
 *   OutputSystem*      GetOutputSystem(void);  the fifteen operations
 *   OutputDescription* GetOutputDesc(void);    the text to list it by, or
 *                                              NULL to stay unlisted
 *
 * The player copies the fifteen pointers once when it selects the plug-in
 * and calls them until it selects an output again; the library stays loaded
 * all that time. Operations are called from several threads (see each one)
 * and take and return 32-bit integers.
 */
#ifndef KUV_OUTPUT_PLUGIN_H
#define KUV_OUTPUT_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Put this in front of the two exported functions. */
#if defined(__GNUC__)
#define KUV_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define KUV_PLUGIN_EXPORT
#endif

typedef struct OutputSystem {
  /* Prepare for a run of playback; nonzero = ready. Called at every play
     command, so a second call must do nothing more. */
  int32_t (*init)(void);
  /* Release what init took; nonzero = success. */
  int32_t (*shutdown)(void);
  /* Open for PCM: 16-bit little-endian signed samples, or 8-bit unsigned
     when eightBit is 1; stereo frames interleaved left, right. Nonzero =
     opened. The plug-in reports its own failures to the user. It must not
     wait for anything (a FIFO's reader, a server): the decoder thread
     answers Stop and quit only once open has returned. */
  int32_t (*open)(int32_t sampleRate, int32_t channels, int32_t eightBit);
  /* Close; with discard 1 queued audio is dropped, with 0 it is played out
     before close returns. */
  int32_t (*close)(int32_t discard);
  int32_t (*isOpen)(void);
  /* Queue length bytes (at most 32768); may block. Returns the bytes taken,
     or a negative value on failure. */
  int32_t (*write)(int32_t length, const void* data);
  /* Drop everything queued and wait, silent, for new data. */
  int32_t (*flush)(void);
  /* Halt output at once keeping what is queued / continue after pause.
     Called from the player's window thread. */
  int32_t (*pause)(void);
  int32_t (*resume)(void);
  /* Milliseconds of audio actually heard, from the base of setPosition.
     Called from any thread. */
  int32_t (*getPosition)(void);
  /* The audio written next belongs to this second of the stream. */
  int32_t (*setPosition)(int32_t seconds);
  /* Volume 0..63; getVolume gives -1 when not open. */
  int32_t (*getVolume)(void);
  int32_t (*setVolume)(int32_t volume);
  /* Output buffers in all (0: no queue to watch) and those free now. */
  int32_t (*getBufferCount)(void);
  int32_t (*getFreeBufferCount)(void);
} OutputSystem;

typedef struct OutputDescription {
  const char* description; /* NUL-terminated; copied by the player */
} OutputDescription;

typedef OutputSystem* (*GetOutputSystemFn)(void);
typedef OutputDescription* (*GetOutputDescFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* KUV_OUTPUT_PLUGIN_H */
