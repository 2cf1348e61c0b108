#pragma once
// How the desktop reports a click on the program's notification-area icon.

namespace Plumeria {

/// True where one activation of the icon must open the main window: desktops that speak
/// StatusNotifier (most Linux desktops) send a single activation and never a double click. False
/// on Windows, where the double click opens the window and a single click does not.
bool TraySingleClickOpens();

} // namespace Plumeria
