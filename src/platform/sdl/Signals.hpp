#pragma once

namespace qr {

// Makes a hangup (SIGHUP: the terminal went away) close the window as SIGTERM and SIGINT do,
// which SDL turns into SDL_QUIT. Called at every turn of the window loop: the first call takes
// over SIGHUP (unless it is ignored, as under nohup), and a call after a hangup posts SDL_QUIT.
void ForwardHangupAsQuit();

}  // namespace qr
