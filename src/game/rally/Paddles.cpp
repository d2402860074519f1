#include "game/app/frmRallex.hpp"

namespace qr {

// A paddle is 40 units long and stays on its track between the borders: top 36..164.
void frmRallex::MovePaddle(std::int16_t Y, std::int16_t& moving, std::int16_t& center, std::int16_t& y0,
                           std::int16_t& y1, std::int16_t x0, std::int16_t x1) {
  moving = Y;
  std::int16_t centre = static_cast<std::int16_t>(center + Y);
  std::int16_t top = static_cast<std::int16_t>(y0 + Y);
  std::int16_t bottom = static_cast<std::int16_t>(y1 + Y);
  if (top <= 35) {
    top = 36;
    centre = 56;
    bottom = 76;
  }
  if (bottom >= 205) {
    bottom = 204;
    centre = 184;
    top = 164;
  }
  center = centre;
  y0 = top;
  y1 = bottom;
  form.ForeColor(kBlack);
  form.Line(x0, 35, x1, 205);  // wipes the whole track, whatever else stands in it
  form.ForeColor(kSilver);
  form.Line(x0, y0, x1, y1);
}

void frmRallex::MoveP1(std::int16_t Y) { MovePaddle(Y, p1Moving, p1Center, p1y0, p1y1, p1x0, p1x1); }

void frmRallex::MoveP2(std::int16_t Y) { MovePaddle(Y, p2Moving, p2Center, p2y0, p2y1, p2x0, p2x1); }

}  // namespace qr
