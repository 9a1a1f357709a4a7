#pragma once

#include <QIcon>

namespace polyvant {

// The program's icon: a shaded cube, painted at the sizes window managers and the
// About box ask for, so no image file has to be found at run time.
QIcon ProgramIcon();

} // namespace polyvant
