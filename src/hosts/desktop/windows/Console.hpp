#pragma once

namespace qr {

// The game is a Windows GUI program: started by a double click it opens no console window. Started
// from a console, what it prints (--help, --version, the headless mode's messages, every error)
// goes to that console: standard output and standard error that have nowhere to go are attached
// to the console of the parent process, when it has one. Streams redirected to a file or a pipe
// stay where they are.
void AttachParentConsole();

}  // namespace qr
