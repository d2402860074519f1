#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "app/Options.hpp"
#include "platform/Recorder.hpp"

namespace qr {

class Machine;
class frmRallex;

// Runs the game headless as the options say and writes the screenshot and the state.
// Returns the process exit code: 0; 2 for a script that cannot be used (nothing is run); 1 when
// the screenshot or the state cannot be written (the message names the file).
int RunHeadless(const Options& options);

// Reads a script or a recording: its events and its header. False after a message on stderr.
bool LoadScript(const std::string& path, std::vector<ScriptEvent>& events, RecordingHeader& header);

// Opens the file of --record (nullptr for none; also after a message on stderr, when it cannot
// be written).
std::FILE* OpenRecord(const std::string& path);

// The end of a run, in both modes: the screenshot and the state the options ask for. Returns 0,
// or 1 when one of them cannot be written (after a message).
int WriteEndOfRun(const Options& options, const Machine& machine, const frmRallex& game, bool exited);

}  // namespace qr
