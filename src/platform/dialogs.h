// The file dialogs the core asks for. The GUI installs a backend that shows
// a real dialog; console programs answer from their command line.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kuv::platform {

struct SaveFileRequest {
  std::string title;             // "Save a WaveForm Audio File..."
  std::string filterName;        // "Waveform Audio"
  std::string filterPattern;     // "*.wav"
  std::string defaultExtension;  // "WAV": added when the name has none
};

using SaveFileBackend = std::function<std::string(const SaveFileRequest& request)>;

// The chosen path, or "" when the user cancelled. A dialog's answer without
// an extension gets the default one (in lower case, as Linux names go).
std::string askSaveFileName(const SaveFileRequest& request);

// Replaces the backend (empty restores the console one); returns the old one.
SaveFileBackend setSaveFileBackend(SaveFileBackend backend);

// The console answer: the name given on the command line the first time,
// then the same name with "-2", "-3", ... before its extension, so that a
// reopened output never overwrites the previous file (a device or a pipe is
// answered with its own name every time). No name: cancel.
void setConsoleSaveFileName(const std::string& name);

// Adds "." + extension (lower case) when the last path component has no '.'.
std::string withDefaultExtension(const std::string& path, const std::string& extension);

struct FileFilter {
  std::string name;     // "Mpeg Audio Files"
  std::string pattern;  // "*.MP1;*.MP2;*.MP3", matched without regard to case
};

struct OpenFilesRequest {
  std::string title;
  std::vector<FileFilter> filters;  // the first is preselected
  std::string initialFolder;
};

// The user's choice: the folder and the names chosen below it, in the
// dialog's order. A name may hold folders of its own: files picked from
// several folders (a "Recent" view) share a higher folder. No names:
// cancelled.
struct OpenFilesAnswer {
  std::string folder;
  std::vector<std::string> names;
};

// The answer for the full paths a dialog returned: their deepest common
// folder (trailing '/') and each path below it. Paths that are not all
// absolute are kept whole, with no folder.
OpenFilesAnswer answerForPaths(const std::vector<std::string>& paths);
// The full paths again: the folder joined to each name.
std::vector<std::string> chosenPaths(const OpenFilesAnswer& answer);

using OpenFilesBackend = std::function<OpenFilesAnswer(const OpenFilesRequest& request)>;

// Asks for existing files; without a backend (console) the answer is a cancel.
OpenFilesAnswer askOpenFileNames(const OpenFilesRequest& request);
OpenFilesBackend setOpenFilesBackend(OpenFilesBackend backend);

}  // namespace kuv::platform
