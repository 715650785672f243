#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A text of fewer than maxLength characters is returned as it is; a longer one as
// its first headLength characters, " ... " and its last maxLength-headLength-6
// characters. Counts UTF-8 characters, so a character is never cut in half.
std::string ShortenPath(std::string_view path, std::size_t maxLength, std::size_t headLength);

// Number of UTF-8 characters in the text (bytes that do not start a sequence are
// counted as characters of their own).
std::size_t CharacterCount(std::string_view text);
