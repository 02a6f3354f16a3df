#pragma once

#include "settings/ScreenGeometry.h"

#include <QString>

#include <string>

// The desktop as a Win32-style rectangle: right and bottom lie one past the last
// pixel, so right = x + width and bottom = y + height (not QRect::right()).
using DesktopRect = ScreenRect;

// The primary screen's geometry; all zero when there is no screen.
DesktopRect desktopRect();

// Every monitor of the desktop, in Qt's logical pixels, and which is the
// primary; no monitors when there is no screen.
MonitorLayout monitorLayout();

// Absolute path of the running executable (resolved /proc/self/exe), UTF-8.
std::string executablePath();

// The executable's file name without directory and extension; the caption of messages.
QString applicationName();

// A modal message with only an OK button, owned by no window, captioned applicationName().
void showMessage(const QString& text);

// The socket of the program's connection to its X display; -1 on any other
// platform. Watched for the server going away, never read or written.
int displayConnectionSocket();

// Starts program with document as its only argument (none when document is empty),
// detached and never through a shell: both names go to it as their bytes, in any
// encoding. A program named without a slash is looked for on PATH. No child is
// left for us to reap. False if the program could not be started.
bool startProgram(const std::string& program, const std::string& document);
