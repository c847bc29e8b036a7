#include "ui/gui_backends.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/message_box.h"

namespace kuv {

namespace {

std::mutex uiLock;
std::condition_variable uiDone;
bool uiReleased = false;
QPointer<QWidget> dialogOwner;

bool onUiThread() {
  return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string toLocal(const QString& s) { return QFile::encodeName(s).toStdString(); }

int showMessageBox(const std::string& text, const std::string& title, unsigned style) {
  QMessageBox box(dialogOwner);
  box.setWindowTitle(fromUtf8(title));
  box.setText(fromUtf8(text));
  switch (style & 0xF0) {
    case platform::MB_ICONERROR:
      box.setIcon(QMessageBox::Critical);
      break;
    case platform::MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case platform::MB_ICONWARNING:
      box.setIcon(QMessageBox::Warning);
      break;
    case platform::MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      break;
  }
  const bool question = (style & 0x0F) == platform::MB_YESNO;
  if (question) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton((style & platform::MB_DEFBUTTON2) ? QMessageBox::No : QMessageBox::Yes);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  if (style & platform::MB_SETFOREGROUND) {
    box.show();
    box.raise();
    box.activateWindow();
  }
  const int answer = box.exec();
  if (!question) return platform::IDOK;
  return answer == QMessageBox::Yes ? platform::IDYES : platform::IDNO;
}

// "*.MP1;*.MP2" as a Qt filter that matches either case.
QString qtFilter(const platform::FileFilter& f) {
  QStringList patterns;
  for (const QString& p : fromUtf8(f.pattern).split(';', Qt::SkipEmptyParts)) {
    patterns << p.toLower();
    if (p.toUpper() != p.toLower()) patterns << p.toUpper();
  }
  return fromUtf8(f.name) + " (" + patterns.join(' ') + ")";
}

struct SinkContext {
  NotificationReceiver* receive;
};

void sinkSend(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  NotificationReceiver* receive = static_cast<SinkContext*>(context)->receive;
  callOnUiThread([receive, message, wParam, lParam] { (*receive)(message, wParam, lParam); });
}

void sinkPost(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  NotificationReceiver* receive = static_cast<SinkContext*>(context)->receive;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [receive, message, wParam, lParam] {
        {
          std::lock_guard<std::mutex> guard(uiLock);
          if (uiReleased) return;
        }
        // Taken before it is handled: a position read while handling it is
        // no later than the next one the engine may then post.
        if (message == ENGINE_PROGRESS) progressTaken();
        (*receive)(message, wParam, lParam);
      },
      Qt::QueuedConnection);
}

void sinkRelease(void*) { releaseUiCalls(); }

}  // namespace

bool callOnUiThread(std::function<void()> job) {
  if (onUiThread()) {
    job();
    return true;
  }
  if (!QCoreApplication::instance()) return false;
  struct Ticket {
    bool done = false;
    bool ran = false;
  };
  auto ticket = std::make_shared<Ticket>();
  {
    std::lock_guard<std::mutex> guard(uiLock);
    if (uiReleased) return false;
  }
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [ticket, job = std::move(job)] {
        bool run;
        {
          std::lock_guard<std::mutex> guard(uiLock);
          run = !uiReleased;
        }
        if (run) job();
        std::lock_guard<std::mutex> guard(uiLock);
        ticket->done = true;
        ticket->ran = run;
        uiDone.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> guard(uiLock);
  uiDone.wait(guard, [&] { return ticket->done || uiReleased; });
  return ticket->ran;
}

void releaseUiCalls() {
  std::lock_guard<std::mutex> guard(uiLock);
  uiReleased = true;
  uiDone.notify_all();
}

void installGuiBackends(QWidget* owner) {
  dialogOwner = owner;
  platform::setMessageBoxBackend([](const std::string& text, const std::string& title, unsigned style) {
    // The answer a closed program gives: OK, or No to a question.
    auto answer = std::make_shared<int>((style & 0x0F) == platform::MB_YESNO ? platform::IDNO : platform::IDOK);
    callOnUiThread([answer, text, title, style] { *answer = showMessageBox(text, title, style); });
    return *answer;
  });
  platform::setSaveFileBackend([](const platform::SaveFileRequest& request) {
    auto chosen = std::make_shared<std::string>();
    callOnUiThread([chosen, request] {
      const QString filter = fromUtf8(request.filterName) + " (" + fromUtf8(request.filterPattern) + ")";
      *chosen = toLocal(QFileDialog::getSaveFileName(dialogOwner, fromUtf8(request.title), QString(), filter));
    });
    return *chosen;
  });
  platform::setOpenFilesBackend([](const platform::OpenFilesRequest& request) {
    auto answer = std::make_shared<platform::OpenFilesAnswer>();
    callOnUiThread([answer, request] {
      QStringList filters;
      for (const platform::FileFilter& f : request.filters) filters << qtFilter(f);
      const QStringList files = QFileDialog::getOpenFileNames(
          dialogOwner, fromUtf8(request.title), QFile::decodeName(request.initialFolder.c_str()), filters.join(";;"));
      // Each file keeps its own folder: a "Recent" view picks from several.
      std::vector<std::string> paths;
      for (const QString& f : files) paths.push_back(toLocal(QFileInfo(f).absoluteFilePath()));
      *answer = platform::answerForPaths(paths);
    });
    return *answer;
  });
}

void removeGuiBackends() {
  platform::setMessageBoxBackend({});
  platform::setSaveFileBackend({});
  platform::setOpenFilesBackend({});
  dialogOwner = nullptr;
}

NotificationSink makeUiNotificationSink(NotificationReceiver* receive) {
  static SinkContext context;
  context.receive = receive;
  return NotificationSink{sinkSend, sinkPost, sinkRelease, &context, true};
}

QImage skinPng(const char* path) {
  QImageReader reader(QString::fromLatin1(path), "png");
  reader.setAutoDetectImageFormat(false);
  return reader.read();
}

}  // namespace kuv
