#pragma once

#include <string>
#include <string_view>

namespace mvx {

// The texts a key-part run sends. Database names enter as identifiers (a
// regular name unchanged, any other in brackets with "]" doubled) and the
// progress texts of C051 as literals with quotes doubled; for ordinary names
// the texts are exactly the ones the application expects, blanks included.

std::string KeyPartUseStatement(std::string_view database);
std::string ReadKeyPartStatusStatement(std::string_view database);
// `today` "yyyy-mm-dd", `now` "yyyy-mm-dd hh:mm:ss".
std::string KeyPartStartStatement(std::string_view database, std::string_view today,
                                  std::string_view now);
std::string ClearKeyPartDetailStatement(std::string_view database);
std::string ReadStemOptionStatement(std::string_view database);
std::string KeyPartCompletedStatement(std::string_view database, std::string_view today,
                                      std::string_view now);
std::string KeyPartFailedStatement(std::string_view database, std::string_view now);

// The status column of a step code with its leading blank: " C021" for "HD"
// ... " C027" for "OT" and any code the table does not know.
std::string KeyPartStatusColumn(std::string_view stepCode);
std::string KeyPartStepStartStatement(std::string_view database, std::string_view stepCode);
std::string KeyPartStepEndStatement(std::string_view database, std::string_view stepCode,
                                    bool succeeded);
// Progress of PM_KeyInit (C041) and PM_T0120KeyRebuild (C042). The end
// statements name `lastCode`, the code of the last call made.
std::string KeyInitStartStatement(std::string_view database, std::string_view stepCode);
std::string KeyInitEndStatement(std::string_view database, std::string_view lastCode,
                                bool succeeded);
std::string T0120StartStatement(std::string_view database, std::string_view stepCode);
std::string T0120EndStatement(std::string_view database, std::string_view lastCode, bool succeeded);

}  // namespace mvx
