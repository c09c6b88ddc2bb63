#pragma once

#include <string>
#include <string_view>

namespace mvx {

// Writes the bytes to a temporary file in the same folder and renames it over
// the path, so a crash or a full disk never leaves half a file. Throws
// std::runtime_error("Unable to write to <path>") when the system refuses.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// Forces a written file's bytes to the disk before it is renamed into place;
// false when the system refuses.
bool SyncFileToDisk(const std::string& path);

// Whether a file of that name is there, and its removal (false when it fails).
bool FileExists(const std::string& path);
bool RemoveFile(const std::string& path);

// Reads a whole file; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace mvx
