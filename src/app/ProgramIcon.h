#pragma once

#include <QIcon>

// The program's icon: a simplified drawing for the small sizes, the full one
// from 32 pixels up.
QIcon ProgramIcon();
