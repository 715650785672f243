#pragma once

#include <QString>

// Tells the user something outside the window, without waiting for them: the
// window does not know or care whether the desktop's notification service or
// the tray icon carries it.
class UserNotifier {
public:
    virtual ~UserNotifier() = default;
    // Returns at once; a click on the notification reaches the handler its
    // implementation was given.
    virtual void Notify(const QString& summary, const QString& body) = 0;
};
