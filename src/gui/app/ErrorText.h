#pragma once

#include <exception>
#include <string>
#include <vector>

class CTranslation;

// Caption of the program's message boxes: text 5, or the program's name while
// no translation could be loaded.
std::string MessageCaption(const CTranslation& texts);

// What the user reads about an error caught at a command boundary: a file error
// names its file (text 980, with a built-in English fallback), anything else
// gives its own description.
std::string ErrorMessage(const std::exception& error, const CTranslation& texts);

// One message for all copy and transfer errors of a run; long lists are cut.
std::string TransferErrorsMessage(const std::vector<std::string>& errors, const CTranslation& texts);
