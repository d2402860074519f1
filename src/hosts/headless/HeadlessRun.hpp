#pragma once
#include <string>

#include "hosts/desktop/Options.hpp"
#include "hosts/desktop/RankedFile.hpp"
#include "hosts/shared/Lockstep.hpp"
#include "hosts/shared/Script.hpp"

namespace qr {

class Machine;
class frmRallex;

// Runs the game headless as the options say and writes the recording, the screenshot and the
// state. Returns the process exit code: 0; 2 for a script or an output file that cannot be used
// (nothing is run); 1 when the recording, the screenshot or the state cannot be written (the
// message names the file). With a ticket the game is ranked (--online): its first confirmed
// entry keeps the game in the data directory, whose path is printed; nothing is sent.
// With a friend's game, the two sides play one game in lockstep (see Lockstep); with a link to
// watch, the game is a friend game's as its players play it (see Spectator).
int RunHeadless(const Options& options, const RankedTicket* ranked = nullptr, const FriendGame* friendGame = nullptr,
                LockstepLink* watched = nullptr);

// Reads a script or a recording (what: "script" or "recording", for the messages): its events
// and its header. False after one line on stderr.
bool LoadScript(const std::string& path, const char* what, Script& script);

// Checks, before anything runs, the files the options ask to write (--record, --screenshot,
// --state): each must be a plain file or a new name in a directory the player may write, and
// the recording must not be the one being played. False after one line on stderr.
bool CheckOutputs(const Options& options);

// The end of a run, in both modes: the screenshot and the state the options ask for, each
// replacing its file at once. Returns 0, or 1 when one of them cannot be written (after a
// message).
int WriteEndOfRun(const Options& options, const Machine& machine, const frmRallex& game, bool exited);

}  // namespace qr
