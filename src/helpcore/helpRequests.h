#pragma once

#include <functional>

namespace tonvert {

// The application's help handler in the classic form: a help command and its data. It
// answers whether it handled the request and may set `callHelp` to ask for the toolkit's
// default help.
using HelpHandler = std::function<bool(int command, long data, bool& callHelp)>;

// Classic help command numbers the windows send.
inline constexpr int kHelpContext = 1;
inline constexpr int kHelpContextPopup = 8;
inline constexpr int kHelpSetPopupPos = 13;

// Makes `handler` the application's help handler and gives the one it replaces.
HelpHandler installHelpHandler(HelpHandler handler);

// What the windows call for help (F1, Help buttons, the Manual command): runs the current
// handler. The toolkit's default help, asked for through `callHelp`, does nothing here.
// False when no handler is installed or the handler declined.
bool requestHelp(int command, long data);

} // namespace tonvert
