#pragma once

class QIcon;

// The program's icon at every size it ships (16, 32, 48 and 256 pixels),
// compiled into the program: for the panel's title bar and the tray.
QIcon applicationIcon();
