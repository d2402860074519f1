#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qr {

class Surface;

// One input event as the game observes it: a key going down or up (a tap is both at once), or
// the window losing the focus or being closed.
struct InputEvent {
  enum class Kind : std::uint8_t { Down, Up, Tap, FocusLost, Close };
  Kind kind = Kind::Down;
  int vk = 0;  // the Windows virtual-key code; 0 for the window events
  bool operator==(const InputEvent&) const = default;
};

// A named file of the game's data directory, as read.
struct LoadedFile {
  enum class Status { Ok, Missing, Unreadable };
  Status status = Status::Missing;
  std::string bytes;   // when Ok
  std::string reason;  // when Unreadable
};

// The loops whose cadence --stats reports.
enum class LoopId : int { MainLoop = 0, DemoLoop = 1, StartPrompt = 2, GetInitials = 3 };

// What only the world outside the game can do. Each backend (the window, the headless twin, the
// web page) is one host; a host may wrap another (the recorder does). The game itself talks to
// the machine, which calls these.
class Host {
 public:
  virtual ~Host() = default;

  // Shows the newest picture of the drawing surface.
  virtual void ShowFrame(const Surface& surface) = 0;
  // Shows the window, with the picture already handed over.
  virtual void ShowWindow() = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void MovePointer(std::int32_t x, std::int32_t y) = 0;
  // Returns when the game's clock may read gameMs: at once headless, at the start time plus
  // gameMs on the wall clock in a window.
  virtual void Pace(std::int64_t gameMs) = 0;
  // The game was held for heldUs microseconds after its last Pace by something outside this host
  // (the other machine of a game played in step): every later game time is due that much later,
  // rather than the time held being made good by shorter sleeps.
  virtual void Held(std::int64_t heldUs) = 0;
  // Appends the input that arrived since the last call, in order.
  virtual void TakeInput(std::vector<InputEvent>& events) = 0;
  // Plays the named sound, cutting the one playing; the empty name only stops it.
  virtual void PlaySound(const std::string& name) = 0;
  // The game's files, by name ("QuillmarshRall.dat", "replays/1p-1.txt"). A file larger than
  // limit, or one that is not a plain file, is unreadable. A save replaces the whole file or
  // nothing; false with the reason in error.
  virtual LoadedFile LoadFile(const std::string& name, std::size_t limit) = 0;
  virtual bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) = 0;
  virtual void RemoveFile(const std::string& name) = 0;
  // Where those files are, for the player's messages; empty when the game keeps no files.
  virtual std::string FilesLocation() = 0;
  // The seed of the random generator.
  virtual std::uint64_t RandomSeed() = 0;
  // Holds the game's files against every other game on the same files (another window, another
  // page of the same site) for a read-again-and-save; UnlockFiles lets go. False with the reason
  // when the hold cannot be had in time: the save then goes on without it.
  virtual bool LockFiles(std::string& error) = 0;
  virtual void UnlockFiles() = 0;
  // Says one sentence to the player, about the game's files or recording: the window writes it
  // on stderr, the page on its message line. The game goes on.
  virtual void Tell(const std::string& message) = 0;
  // The game takes typed characters (the initials) while on: a host whose pads can type shows
  // their character picker meanwhile.
  virtual void TextEntry(bool on) = 0;
  // A pass of a loop begins (for the cadence statistics).
  virtual void CountPass(LoopId id) = 0;
  // The input observed so far, as a script with its header; empty when nothing records it.
  // gameStartMs, when not negative, marks where the game of interest begins (a kept recording
  // holds the whole session before it, since the game depends on it).
  virtual std::string Recording(std::int64_t gameStartMs) = 0;
};

}  // namespace qr
