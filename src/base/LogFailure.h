#pragma once

#include <functional>
#include <string>

namespace hopwell {

// A log file that cannot be opened or written must not end the client: the log sink hands
// its failures here and logging goes to nowhere until the file can be written again. The
// user is told once per process.

// Called inside a catch block (the log sink's exception handler, start-up's guard): takes
// the current exception's text. Never logs, never throws.
void NoteLogFailure() noexcept;

// Who tells the user: the headless front end prints one line on standard error, the desktop
// one shows it in the main window's status. Called with the text of the first failure, on
// whichever thread met it; a failure noted before a handler is set is handed to it when it
// is set. An empty handler stops the telling.
void SetLogFailureHandler(std::function<void(const std::string&)> handler);

}  // namespace hopwell
