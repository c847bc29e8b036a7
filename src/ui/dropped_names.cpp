#include "ui/dropped_names.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace kuv {

std::vector<std::string> droppedNames(const QMimeData& data) {
  std::vector<std::string> names;
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile())
      names.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    else if (!url.isEmpty())
      names.push_back(url.toString().toStdString());
  }
  return names;
}

}  // namespace kuv
