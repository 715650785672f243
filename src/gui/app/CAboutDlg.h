#pragma once

#include <QDialog>

// The About box: the program icon, the version line and OK. Its texts are the
// same in every language.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
