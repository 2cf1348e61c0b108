#pragma once
// The program's faces: "Segoe UI" for the interface and "Consolas" for fixed-width text where
// the machine has them, the system's own faces elsewhere; always faces that write Cyrillic.

#include <QFont>

namespace Plumeria {

/// "Segoe UI" at 9 points, or the system's general font at 9 points.
QFont InterfaceFont();
/// "Consolas" at 9 points, or the system's fixed font at 9 points.
QFont FixedWidthFont();

} // namespace Plumeria
