// Modal message boxes, callable from any thread. The console programs print
// the box and take its default answer; the GUI installs a backend that shows
// a real dialog on the UI thread.
#pragma once

#include <functional>
#include <string>

namespace kuv::platform {

// Style bits, combined with '|'.
enum : unsigned {
  MB_OK = 0x0000,
  MB_YESNO = 0x0004,
  MB_ICONERROR = 0x0010,
  MB_ICONQUESTION = 0x0020,
  MB_ICONWARNING = 0x0030,
  MB_ICONINFORMATION = 0x0040,
  MB_DEFBUTTON2 = 0x0100,
  MB_SETFOREGROUND = 0x10000,
};

enum MessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

using MessageBoxBackend = std::function<int(const std::string& text, const std::string& title, unsigned style)>;

int messageBox(const std::string& text, const std::string& title, unsigned style);

// Replaces the backend (an empty function restores the console one) and
// returns the one it replaced.
MessageBoxBackend setMessageBoxBackend(MessageBoxBackend backend);

// The console backend: "title: text" on stderr; OK for an OK box, No for a
// Yes/No question.
int consoleMessageBox(const std::string& text, const std::string& title, unsigned style);

}  // namespace kuv::platform
