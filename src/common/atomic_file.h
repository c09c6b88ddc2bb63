#pragma once

#include <string>
#include <string_view>

namespace mvx {

// Who may read a file that a write creates. POSIX: 0644 or 0600, and a rewrite
// keeps the permissions of the file it replaces. Windows: the folder's inherited
// ACL, or SYSTEM and Administrators only at every write.
enum class NewFileAccess { Everyone, OwnerOnly };

// The modification time a rewrite leaves. The agent's own bookkeeping keeps the
// replaced file's time, so that time tells when an operator last changed it.
enum class ModifiedTime { Now, KeepPrevious };

// Writes the bytes to a temporary file in the same folder and renames it over
// the path, then makes the rename itself durable, so a crash or a full disk
// never leaves half a file. With KeepPrevious the temporary file takes the
// replaced file's modification time before the rename (a new file gets the
// current time). Throws std::runtime_error("Unable to write to <path>") when
// the system refuses.
void WriteFileAtomically(const std::string& path, std::string_view bytes,
                         NewFileAccess access = NewFileAccess::Everyone,
                         ModifiedTime time = ModifiedTime::Now);

// Removes the temporary files that an interrupted WriteFileAtomically of the
// path left beside it.
void RemoveLeftoverTemporaries(const std::string& path);

// Forces a written file's bytes to the disk before it is renamed into place;
// false when the system refuses.
bool SyncFileToDisk(const std::string& path);

// Whether a file of that name is there, and its removal (false when it fails).
bool FileExists(const std::string& path);
bool RemoveFile(const std::string& path);

// Reads a whole file; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace mvx
