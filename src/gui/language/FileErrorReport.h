#pragma once

#include <string>

class CTranslation;
class Dialogs;
class QWidget;

// Tells the user that a file could not be opened or written, naming the file
// (text 980, caption text 5).
void ReportFileError(QWidget* parent, Dialogs& dialogs, const CTranslation& texts, const std::string& path);
