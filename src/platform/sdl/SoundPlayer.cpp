#include "platform/sdl/SoundPlayer.hpp"

namespace qr {

// Silent until the sounds are built.
struct SoundPlayer::Impl {};

SoundPlayer::SoundPlayer(bool) : impl_(std::make_unique<Impl>()) {}

SoundPlayer::~SoundPlayer() = default;

void SoundPlayer::Play(const std::string&) {}

}  // namespace qr
