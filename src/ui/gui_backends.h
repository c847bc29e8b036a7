// The Qt side of the platform layer: message boxes, file dialogs and the
// engine's notification sink, all shown or handled on the UI thread
// whichever thread asks.
#pragma once

#include <functional>

#include "engine/decoder_thread.h"

class QImage;
class QWidget;

namespace kuv {

// Runs `job` on the UI thread and waits until it has run; on the UI thread
// itself it runs at once. After releaseUiCalls, waiting callers return at
// once and later ones do not wait (false: the job did not run). The job
// must own what it touches, since a released caller may be gone.
bool callOnUiThread(std::function<void()> job);
void releaseUiCalls();

// Installs the message-box, save-dialog and open-dialog backends; dialogs
// are owned by `owner`.
void installGuiBackends(QWidget* owner);
void removeGuiBackends();

// A sink that hands engine notifications to `receive` on the UI thread:
// sent ones wait until it has run, posted ones do not.
using NotificationReceiver = std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
NotificationSink makeUiNotificationSink(NotificationReceiver* receive);

// One of the skin's own PNGs (":/skin/..."), read by Qt's built-in reader
// alone: left to detect the format, Qt loads every image format plug-in to
// ask whether it reads PNG, libraries more at start-up for nothing. A null
// image when it cannot be read.
QImage skinPng(const char* path);

}  // namespace kuv
