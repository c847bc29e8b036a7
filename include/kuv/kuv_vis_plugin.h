/* KUV visualisation plug-ins: the C interface.
 *
 * A plug-in is a shared library (kuv looks for "plugin.dll" in its output
 * plug-in folder, then along the loader's search path) exporting
 *
 *     kuvVisHeader* winampVisGetHeader(void);
 *
 * The header's getModule returns the module record for an index (kuv asks
 * for module 1), or NULL. kuv fills in the parent window, the library
 * handle, the sample rate and the channel count, calls init once, then about
 * fifty times a second copies the newest spectrum and waveform into the
 * record and calls render, and calls quit once when the player closes. All
 * three run on kuv's plug-in thread, below normal priority; results are not
 * used. Both records are the plug-in's own and must live until quit returns.
 */
#ifndef KUV_VIS_PLUGIN_H
#define KUV_VIS_PLUGIN_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct kuvVisModule {
  char* description;
  unsigned long parentWindow; /* the player's X11 window, 0 where there is none (Wayland) */
  void* library;              /* the handle dlopen gave for this plug-in */
  int sampleRate;             /* of the track playing when the plug-in started; 0 before any */
  int channels;               /* 1 or 2 */
  int latencyMs;              /* not read by kuv */
  int delayMs;                /* not read by kuv */
  int spectrumChannels;       /* not read by kuv */
  int waveformChannels;       /* not read by kuv */
  /* 0..255 per band, low to high frequency: left, then right. */
  unsigned char spectrumData[2][576];
  /* Signed 8-bit samples, stored as bytes: left, then right. */
  unsigned char waveformData[2][576];
  int (*config)(struct kuvVisModule* module); /* not called by kuv */
  int (*init)(struct kuvVisModule* module);
  int (*render)(struct kuvVisModule* module);
  void (*quit)(struct kuvVisModule* module);
  void* userData;
} kuvVisModule;

typedef struct kuvVisHeader {
  int version;
  char* description;
  kuvVisModule* (*getModule)(int index);
} kuvVisHeader;

typedef kuvVisHeader* (*kuvVisGetHeader)(void);

#ifdef __cplusplus
}
#endif

#endif
