#pragma once

// The application object: makes sure one window runs per user and session, and
// runs the main window until it ends.
class CBackupApp {
public:
    // Returns the process's exit code once the main window has ended.
    int InitInstance();
};
