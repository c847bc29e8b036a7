// The "Open URL..." dialog the main window and the playlist editor share.
#pragma once

#include <string>

class QWidget;

namespace kuv {

// Longest text the dialog takes.
constexpr int kUrlTextLimit = 259;

// Shows the dialog over `owner`; false on Cancel, else true with what was
// typed (at most kUrlTextLimit characters).
bool askUrl(QWidget* owner, std::string& text);

}  // namespace kuv
