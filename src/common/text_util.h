#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mvx {

// Percent-encoding of HTTP form values; stops at the first NUL byte.
std::string EncodeFormValue(std::string_view bytes);

// SQL text literal: quote, value with inner quotes doubled, quote, one blank.
std::string SqlLiteral(std::string_view text);
std::string SqlLiteral(const char* text);
std::string SqlLiteral(long long number);
std::string SqlLiteral(int number);
std::string SqlLiteral(bool value);  // true is -1
std::string SqlLiteral(double number);
std::string SqlLiteral(std::nullptr_t);  // NULL: the empty text

// A database name as an SQL identifier: unchanged when it is a regular
// identifier, otherwise in brackets with ']' doubled.
std::string SqlIdentifier(std::string_view name);
// "[name]" with ']' doubled, whatever the name.
std::string SqlBracketed(std::string_view name);

// Removes leading and trailing blanks and control characters (bytes <= 32).
std::string TrimControls(std::string_view text);
// Removes leading and trailing blanks only.
std::string TrimBlanks(std::string_view text);
// Without the spaces and tabs at both ends (HTTP's optional white space).
std::string_view TrimSpacesAndTabs(std::string_view text);
// ASCII letters upper-cased; other bytes (UTF-8 sequences) unchanged.
std::string UpperAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWith(std::string_view text, std::string_view prefix);
// "a, b, c": the texts with ", " between them.
std::string JoinedByCommas(const std::vector<std::string>& texts);

// The text with every byte that does not start or continue a well-formed UTF-8 sequence
// replaced by U+FFFD (overlong forms, surrogates and code points above U+10FFFF included).
std::string ValidUtf8(std::string_view text);

// Whole-text decimal integer in the range of int, with optional sign and
// surrounding blanks; false when the text is not one.
bool ParseInt(std::string_view text, int& out);

// Cuts UTF-8 text to at most maxBytes bytes of its CP949 form (on every platform), at a
// character boundary; a character CP949 cannot hold counts as the one byte stored for it.
std::string CutToCp949Bytes(std::string_view utf8, std::size_t maxBytes);

}  // namespace mvx
