#pragma once
// Whole-file reads and locked, atomic whole-file replacement for the small text files the
// system keeps its settings in (INI files and the registry store).
#include <functional>
#include <string>

namespace vg::platform {

// Reads the whole file into content. Returns 0 or the system error code (ENOENT when absent).
int ReadWholeFile(const std::string& path, std::string& content);

// Receives the file's current content (empty for a new file) and edits it in place. Returns 0
// and sets changed when the file must be rewritten, or returns an error code to give up.
using FileEditor = std::function<int(std::string& content, bool& changed)>;

// Runs the editor while holding an exclusive lock on the file (so writers in other threads and
// processes are serialised and none loses another's update), then replaces the file through a
// temporary file beside it that is flushed to disk and renamed over the old one. A missing file
// is created only when create is true; otherwise a missing file is left alone and 0 returned.
// Returns 0 or the system error code; on failure the old file is untouched. Temporary files of
// this file left by writers that were killed before their rename are removed on the way.
int UpdateFileLocked(const std::string& path, const FileEditor& editor, bool create);

// Creates the directory and its missing parents. Returns 0 or the system error code.
int MakeDirectories(const std::string& dir);

// For tests: called once the temporary file is complete and flushed, just before it replaces
// the target. Returning false makes the replacement fail with EIO and removes the temporary
// file; a hook may also end the process there to stand for a writer killed mid-update.
using ReplaceFaultHook = std::function<bool(const std::string& target, const std::string& temp)>;
void SetReplaceFaultHook(ReplaceFaultHook hook);

}  // namespace vg::platform
