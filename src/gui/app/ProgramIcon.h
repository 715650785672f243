#pragma once

#include <QIcon>

// Registers the icons compiled into the static GUI library (":/icons/...");
// static libraries drop the automatic registration. Safe to call repeatedly.
void LoadIconResources();

// The program's icon: a simplified drawing for the small sizes, the full one
// from 32 pixels up.
QIcon ProgramIcon();
