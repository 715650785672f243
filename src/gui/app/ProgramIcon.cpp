#include "app/ProgramIcon.h"

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterIcons() {
    Q_INIT_RESOURCE(icons);
}

void LoadIconResources() {
    static const bool registered = (RegisterIcons(), true);
    (void)registered;
}

QIcon ProgramIcon() {
    LoadIconResources();
    const QIcon small(QStringLiteral(":/icons/tarnwick-backup-16.svg"));
    const QIcon full(QStringLiteral(":/icons/tarnwick-backup.svg"));
    QIcon icon;
    for (int size : {16, 22, 24}) icon.addPixmap(small.pixmap(size, size));
    for (int size : {32, 48, 64, 128, 256}) icon.addPixmap(full.pixmap(size, size));
    return icon;
}
