#pragma once

#include <string>

#include "common/text_log.h"

namespace mvx {

enum class AccessNarrowing { Unchanged, Narrowed, Failed };

// Limits an existing file that others may read to those a write with NewFileAccess::OwnerOnly
// gives it: SYSTEM and Administrators on Windows. POSIX leaves the mode as it is (a rewrite
// keeps an operator's choice; new files are created 0600).
AccessNarrowing NarrowToOwnerOnly(const std::string& path);

// The start's check of the settings file, which holds the SQL login: narrowed once, with a
// line in the text log when it changed anything or could not.
void NarrowSettingsAccess(const std::string& path, TextLog& log);

}  // namespace mvx
