#pragma once

#include <cstdint>
#include <functional>
#include <string>

class QWidget;

namespace tonvert {

// The manual viewer's entry point, in the form of the system help viewer's: HH_HELP_CONTEXT
// (15) opens `path` (a help file, optionally with a viewer prefix, "::topic" and ">window")
// on the topic of context number `data` in the one viewer window, brought to the front above
// the window the user works in; HH_CLOSE_ALL (18) closes that window. Gives the window shown,
// or null.
QWidget* htmlHelp(const std::string& path, unsigned command, std::uintptr_t data);

// What the viewer does with a link that leads out of the manual (a web page, a mail address).
using OutsideLinkOpener = std::function<void(const std::string& address)>;

// The program's start of the help units, with this viewer as the entry point. Call it once,
// after the application object exists and before the main window.
void initHelp(const std::string& programPath, OutsideLinkOpener openOutside);
// The program's end: closes the viewer and unloads it.
void finishHelp();

} // namespace tonvert
