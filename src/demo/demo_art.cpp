// The demo cartridge's art. Each structure is drawn as a picture 128 pixels
// wide, the way its tiles lie in the graphics files (16 to a band), in panels
// of up to 64 rows. The pictures imitate what a game's graphics hold: sprite
// sheets of animated characters on colour 0 with outlines and shading,
// tilesets of bricks, grass and water, fonts, and backdrops with dithered sky
// gradients. Everything follows from the seed.
#include "demo/demo_art.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "common/types.h"
#include "transfer/catalogue.h"

namespace tilvex::demo {

namespace {

constexpr int kWidth = Picture::kWidth;

// Colour ramps (dark, middle, light) of the 16-colour palette. Colour 0 is
// transparent, 1 the outline, 14 a deep shadow and 15 white.
constexpr std::uint8_t kOutline = 1;
constexpr std::uint8_t kShadow = 14;
constexpr std::uint8_t kWhite = 15;
constexpr std::uint8_t kRamps[4][3] = {{2, 3, 4}, {5, 6, 7}, {8, 9, 10}, {11, 12, 13}};

// 4x4 ordered dither thresholds, 0 to 15.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// A rectangle of the picture that one drawing fills.
struct Cell {
  int x, y, w, h;
};

// Picks one colour of a ramp for a brightness from 0 (dark) to 1 (light);
// pixels near a step between two colours are dithered.
std::uint8_t shade(const std::uint8_t* ramp, double light, int x, int y) {
  const double level = std::clamp(light, 0.0, 1.0) * 2.0;
  const double dither = (kBayer[y & 3][x & 3] + 0.5) / 16.0 - 0.5;  // -0.5 .. 0.5
  const int index = static_cast<int>(std::lround(level + dither * 0.6));
  return ramp[std::clamp(index, 0, 2)];
}

// --- Sprite sheets -------------------------------------------------------

struct Ellipse {
  double cx, cy, rx, ry;
  bool contains(double x, double y) const {
    const double dx = (x - cx) / rx, dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
  }
};

// One character of a sprite sheet: a body and a head, legs and a colour
// ramp; its animation frames move it a little.
struct Character {
  double body_w, body_h, head_r, leg_w;
  int ramp, head_ramp;
  bool has_head, has_legs;
};

Character make_character(Random& random) {
  Character c{};
  c.body_w = random.between(30, 42) / 100.0;
  c.body_h = random.between(22, 34) / 100.0;
  c.head_r = random.between(17, 25) / 100.0;
  c.leg_w = random.between(8, 14) / 100.0;
  c.ramp = random.below(4);
  c.head_ramp = random.chance(50) ? c.ramp : random.below(4);
  c.has_head = random.chance(80);
  c.has_legs = random.chance(70);
  return c;
}

void draw_character(Picture& picture, const Cell& cell, const Character& c, int frame) {
  const double w = cell.w, h = cell.h;
  const double bob = (frame & 1) ? 1.0 : 0.0;
  const double step = (frame % 4) - 1.5;  // legs swing back and forth
  const Ellipse body{w / 2, h * 0.62 - bob, w * c.body_w, h * c.body_h};
  const Ellipse head{w / 2 + (frame % 3 == 2 ? 1 : 0), h * 0.3 - bob, w * c.head_r, w * c.head_r};
  const double leg_top = body.cy + body.ry * 0.5, leg_bottom = h - 2;
  auto leg = [&](double x, double y, double centre) {
    return c.has_legs && y >= leg_top && y <= leg_bottom && std::fabs(x - centre) <= w * c.leg_w;
  };
  auto inside = [&](int x, int y) {
    if (x < 1 || y < 1 || x >= cell.w - 1 || y >= cell.h - 1) return false;
    const double px = x + 0.5, py = y + 0.5;
    return body.contains(px, py) || (c.has_head && head.contains(px, py)) ||
           leg(px, py, w / 2 - w * 0.15 + step * 0.6) || leg(px, py, w / 2 + w * 0.15 - step * 0.6);
  };
  for (int y = 0; y < cell.h; ++y) {
    for (int x = 0; x < cell.w; ++x) {
      const int px = cell.x + x, py = cell.y + y;
      if (inside(x, y)) {
        const bool in_head =
            c.has_head && head.contains(x + 0.5, y + 0.5) && !body.contains(x + 0.5, y + 0.5);
        const Ellipse& part = in_head ? head : body;
        // Light from the upper left.
        const double light =
            0.55 - 0.45 * ((x + 0.5 - part.cx) / part.rx + (y + 0.5 - part.cy) / part.ry) / 1.4;
        picture.set(px, py, shade(kRamps[in_head ? c.head_ramp : c.ramp], light, px, py));
      } else if (inside(x - 1, y) || inside(x + 1, y) || inside(x, y - 1) || inside(x, y + 1)) {
        picture.set(px, py, kOutline);
      }
    }
  }
  if (c.has_head) {  // eyes, and a glint on the head
    const int ex = cell.x + static_cast<int>(head.cx), ey = cell.y + static_cast<int>(head.cy);
    const int gap = std::max(1, static_cast<int>(head.rx / 2));
    picture.set(ex - gap, ey, kWhite);
    picture.set(ex + gap - 1, ey, kWhite);
    picture.set(ex - gap, ey + 1, kOutline);
    picture.set(ex + gap - 1, ey + 1, kOutline);
    picture.set(ex - gap, ey - static_cast<int>(head.ry / 2) - 1, kWhite);
  }
}

// A sheet of animation frames in cells of 16 or 32 pixels, some characters
// with several frames, some cells left empty.
void draw_sprite_sheet(Picture& picture, Random& random, int top, int bottom) {
  const int cell_w = random.chance(70) ? 16 : 32;
  const int cell_h = random.chance(60) ? cell_w : (cell_w == 16 ? 32 : 16);
  Character character = make_character(random);
  int frames_left = random.between(2, 8);
  int frame = 0;
  for (int y = top; y + cell_h <= bottom; y += cell_h) {
    for (int x = 0; x + cell_w <= kWidth; x += cell_w) {
      if (frames_left == 0) {
        character = make_character(random);
        frames_left = random.between(2, 8);
        frame = 0;
      }
      if (!random.chance(8)) draw_character(picture, {x, y, cell_w, cell_h}, character, frame);
      ++frame;
      --frames_left;
    }
  }
}

// --- Tilesets ------------------------------------------------------------

void draw_bricks(Picture& picture, const Cell& cell, Random& random, const std::uint8_t* ramp) {
  for (int y = 0; y < cell.h; ++y) {
    const int course = y / 4;
    const int shift = (course & 1) ? 4 : 0;
    for (int x = 0; x < cell.w; ++x) {
      const int bx = (x + shift) % 8, by = y % 4;
      std::uint8_t colour;
      if (by == 3 || bx == 7) {
        colour = kOutline;  // mortar
      } else if (by == 0 || bx == 0) {
        colour = ramp[2];
      } else {
        colour = random.chance(10) ? ramp[0] : ramp[1];
      }
      picture.set(cell.x + x, cell.y + y, colour);
    }
  }
}

void draw_grass(Picture& picture, const Cell& cell, Random& random, const std::uint8_t* ramp) {
  for (int y = 0; y < cell.h; ++y) {
    for (int x = 0; x < cell.w; ++x) {
      const int px = cell.x + x, py = cell.y + y;
      // Darker patches, dithered at their edges.
      const double patch = 0.5 + 0.35 * std::sin((px + cell.y) * 0.7) * std::cos(py * 0.9);
      picture.set(px, py, shade(ramp, patch, px, py));
    }
  }
  for (int blades = random.between(3, 7); blades > 0; --blades) {
    const int x = cell.x + random.below(cell.w), y = cell.y + random.between(1, cell.h - 1);
    picture.set(x, y, ramp[2]);
    picture.set(x, y - 1, ramp[2]);
  }
}

void draw_water(Picture& picture, const Cell& cell, const std::uint8_t* ramp, int phase) {
  for (int y = 0; y < cell.h; ++y) {
    for (int x = 0; x < cell.w; ++x) {
      const int px = cell.x + x, py = cell.y + y;
      const int crest = static_cast<int>(std::lround(2 * std::sin((px + phase) * 0.4)));
      std::uint8_t colour = ramp[1];
      if ((y + crest) % 8 == 0) colour = ramp[2];
      if ((y + crest) % 8 == 1) colour = ((px + py) & 1) ? ramp[1] : ramp[0];
      picture.set(px, py, colour);
    }
  }
}

void draw_planks(Picture& picture, const Cell& cell, Random& random, const std::uint8_t* ramp) {
  const int board = random.between(4, 6);
  for (int x = 0; x < cell.w; ++x) {
    const bool gap = x % board == board - 1;
    for (int y = 0; y < cell.h; ++y) {
      std::uint8_t colour = gap ? kShadow : ramp[1];
      if (!gap && x % board == 0) colour = ramp[2];
      if (!gap && (y * 3 + x / board * 5) % 11 == 0) colour = ramp[0];  // grain
      picture.set(cell.x + x, cell.y + y, colour);
    }
  }
}

// A tileset of 16x16 blocks; blocks repeat with small changes, as real
// tilesets do.
void draw_tileset(Picture& picture, Random& random, int top, int bottom) {
  const int kinds = random.between(2, 4);
  const std::uint32_t salt = random.next();
  int kind_of[4];
  const std::uint8_t* ramp_of[4];
  for (int k = 0; k < kinds; ++k) {
    kind_of[k] = random.below(4);
    ramp_of[k] = kRamps[random.below(4)];
  }
  for (int y = top; y + 16 <= bottom; y += 16) {
    for (int x = 0; x < kWidth; x += 16) {
      const int k = random.below(kinds);
      const Cell cell{x, y, 16, 16};
      Random block(static_cast<std::uint64_t>(salt) << 8 | (k * 4 + random.below(3)));
      switch (kind_of[k]) {
        case 0:
          draw_bricks(picture, cell, block, ramp_of[k]);
          break;
        case 1:
          draw_grass(picture, cell, block, ramp_of[k]);
          break;
        case 2:
          draw_water(picture, cell, ramp_of[k], x);
          break;
        default:
          draw_planks(picture, cell, block, ramp_of[k]);
          break;
      }
    }
  }
}

// --- Fonts ---------------------------------------------------------------

// Strokes of a glyph on a 5x7 grid, like the segments of a display.
struct Stroke {
  int x0, y0, x1, y1;
};
constexpr Stroke kStrokes[] = {
    {0, 0, 4, 0}, {0, 3, 4, 3}, {0, 6, 4, 6},                              // horizontals
    {0, 0, 0, 3}, {0, 3, 0, 6}, {4, 0, 4, 3}, {4, 3, 4, 6}, {2, 0, 2, 6},  // verticals
    {0, 0, 4, 6}, {4, 0, 0, 6}, {0, 6, 2, 0}, {2, 0, 4, 6},                // diagonals
};

void draw_font(Picture& picture, Random& random, int top, int bottom) {
  const std::uint8_t ink = random.chance(50) ? kWhite : kRamps[random.below(4)][2];
  for (int y = top; y + 8 <= bottom; y += 8) {
    for (int x = 0; x < kWidth; x += 8) {
      if (random.chance(10)) continue;  // unused character
      unsigned strokes = 0;
      for (int n = random.between(2, 4); n > 0; --n) {
        strokes |= 1u << random.below(static_cast<int>(std::size(kStrokes)));
      }
      for (int s = 0; s < static_cast<int>(std::size(kStrokes)); ++s) {
        if ((strokes >> s & 1) == 0) continue;
        const Stroke& k = kStrokes[s];
        const int steps = std::max(std::abs(k.x1 - k.x0), std::abs(k.y1 - k.y0));
        for (int t = 0; t <= steps; ++t) {
          const int gx = k.x0 + (k.x1 - k.x0) * t / steps;
          const int gy = k.y0 + (k.y1 - k.y0) * t / steps;
          const int px = x + 1 + gx, py = y + gy;
          if (picture.get(px + 1, py + 1) == 0) picture.set(px + 1, py + 1, kOutline);  // shadow
          picture.set(px, py, ink);
        }
      }
    }
  }
}

// --- Backdrops -----------------------------------------------------------

// A sky in few colours with dithered steps, rolling hills and clouds.
void draw_backdrop(Picture& picture, Random& random, int top, int bottom) {
  const int rows = bottom - top;
  const std::uint8_t* sky = kRamps[random.below(4)];
  const std::uint8_t* ground = kRamps[random.below(4)];
  const double a = random.between(5, 15) / 100.0, b = random.between(10, 30) / 100.0;
  const double horizon = rows * random.between(45, 70) / 100.0;
  for (int x = 0; x < kWidth; ++x) {
    const double hill = horizon + rows * 0.08 * std::sin(x * a) + rows * 0.05 * std::sin(x * b);
    for (int y = 0; y < rows; ++y) {
      const int py = top + y;
      if (y < hill) {
        picture.set(x, py, shade(sky, 1.0 - static_cast<double>(y) / hill, x, py));
      } else if (y < hill + 1) {
        picture.set(x, py, kOutline);
      } else {
        picture.set(x, py, shade(ground, 0.8 - (y - hill) / rows * 2, x, py));
      }
    }
  }
  for (int clouds = random.between(1, 3); clouds > 0; --clouds) {
    const double cx = random.below(kWidth), cy = top + random.between(4, std::max(5, rows / 3));
    const Ellipse parts[3] = {{cx, cy, 10, 4}, {cx - 7, cy + 2, 6, 3}, {cx + 8, cy + 1, 7, 3}};
    for (int y = static_cast<int>(cy) - 6; y <= static_cast<int>(cy) + 6; ++y) {
      for (int x = static_cast<int>(cx) - 18; x <= static_cast<int>(cx) + 18; ++x) {
        const bool in =
            parts[0].contains(x, y) || parts[1].contains(x, y) || parts[2].contains(x, y);
        if (in && y >= top && y < bottom) picture.set(x, y, y > cy + 1 ? sky[2] : kWhite);
      }
    }
  }
}

// --- Structures ----------------------------------------------------------

enum class Style { Sprites, Tileset, Font, Backdrop };

Style pick_style(std::uint32_t index, Random& random) {
  switch (structure_kinds[index]) {
    case KindPlain:
      return index == 0 || index == 0x12 ? Style::Font
                                         : (random.chance(50) ? Style::Tileset : Style::Sprites);
    case KindBitmap:
      return random.chance(60) ? Style::Backdrop : Style::Tileset;
    case KindFormat1: {
      const int roll = random.below(100);
      return roll < 65 ? Style::Sprites : (roll < 85 ? Style::Tileset : Style::Font);
    }
    default:
      return random.chance(75) ? Style::Sprites : Style::Backdrop;
  }
}

}  // namespace

Picture draw_structure(std::uint32_t index, std::uint32_t seed) {
  const std::uint32_t tiles = structure_sizes[index] / 32;
  Picture picture;
  picture.height = static_cast<int>((tiles + 15) / 16 * 8);
  picture.pixels.assign(static_cast<std::size_t>(picture.height) * kWidth, 0);
  Random random(static_cast<std::uint64_t>(seed) << 32 | (index * 2654435761u));
  for (int top = 0; top < picture.height; top += 64) {
    const int bottom = std::min(picture.height, top + 64);
    switch (pick_style(index, random)) {
      case Style::Sprites:
        draw_sprite_sheet(picture, random, top, bottom);
        break;
      case Style::Tileset:
        draw_tileset(picture, random, top, bottom);
        break;
      case Style::Font:
        draw_font(picture, random, top, bottom);
        break;
      case Style::Backdrop:
        draw_backdrop(picture, random, top, bottom);
        break;
    }
  }
  return picture;
}

}  // namespace tilvex::demo
