#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "machine/Host.hpp"

namespace qr {

// A host that passes every call on to another; a wrapper overrides what it changes.
class HostWrapper : public Host {
 public:
  explicit HostWrapper(Host& inner) : inner_(inner) {}

  void ShowFrame(const Surface& surface) override { inner_.ShowFrame(surface); }
  void ShowWindow() override { inner_.ShowWindow(); }
  void SetCaption(const std::string& caption) override { inner_.SetCaption(caption); }
  void MovePointer(std::int32_t x, std::int32_t y) override { inner_.MovePointer(x, y); }
  void Pace(std::int64_t gameMs) override { inner_.Pace(gameMs); }
  void Held(std::int64_t heldUs) override { inner_.Held(heldUs); }
  void TakeInput(std::vector<InputEvent>& events) override { inner_.TakeInput(events); }
  void PlaySound(const std::string& name) override { inner_.PlaySound(name); }
  LoadedFile LoadFile(const std::string& name, std::size_t limit) override { return inner_.LoadFile(name, limit); }
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override {
    return inner_.SaveFile(name, bytes, error);
  }
  void RemoveFile(const std::string& name) override { inner_.RemoveFile(name); }
  std::string FilesLocation() override { return inner_.FilesLocation(); }
  std::uint64_t RandomSeed() override { return inner_.RandomSeed(); }
  bool LockFiles(std::string& error) override { return inner_.LockFiles(error); }
  void UnlockFiles() override { inner_.UnlockFiles(); }
  void Tell(const std::string& message) override { inner_.Tell(message); }
  void TextEntry(bool on) override { inner_.TextEntry(on); }
  void CountPass(LoopId id) override { inner_.CountPass(id); }
  std::string Recording(std::int64_t gameStartMs) override { return inner_.Recording(gameStartMs); }

 protected:
  Host& inner() { return inner_; }

 private:
  Host& inner_;
};

}  // namespace qr
