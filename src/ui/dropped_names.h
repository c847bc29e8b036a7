// What a drop on a window names, as the playlist takes names: local files
// in the file system's encoding, other URLs as they are.
#pragma once

#include <string>
#include <vector>

class QMimeData;

namespace kuv {

std::vector<std::string> droppedNames(const QMimeData& data);

}  // namespace kuv
