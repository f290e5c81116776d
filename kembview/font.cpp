// SPDX-License-Identifier: Apache-2.0
// The preview font, drawn for this program.
//
//   kDrawn          glyphs given as pictures: 5 columns, rows from the cap line down
//   kAccented       Latin letters as their base letter with a mark above or a cedilla below
//   kBoxes, DrawBox box drawing from the weight of each arm: joins computed, not drawn
//   Shade           the three shades and the block elements
//   BuildFont
#include "font.h"

#include <algorithm>

namespace kembview::detail {

bool Glyph::Empty() const {
  return std::all_of(rows.begin(), rows.end(), [](uint8_t row) { return row == 0; });
}

namespace {

// Pictures start at column 1, row 2 (the cap line); rows are separated by '/', '#' is ink.
constexpr int kPictureColumn = 1, kCapRow = 2;

struct Drawn {
  uint8_t byte;
  const char* picture;
};

constexpr Drawn kDrawn[] = {
    {'!', "..#../..#../..#../..#../..#../...../..#.."},
    {'"', ".#.#./.#.#./.#.#."},
    {'#', ".#.#./.#.#./#####/.#.#./#####/.#.#./.#.#."},
    {'$', "..#../.####/#.#../.###./..#.#/####./..#.."},
    {'%', "##.../##..#/...#./..#../.#.../#..##/...##"},
    {'&', ".##../#..#./#.#../.#.../#.#.#/#..#./.##.#"},
    {'\'', "..#../..#../.#..."},
    {'(', "...#./..#../.#.../.#.../.#.../..#../...#."},
    {')', ".#.../..#../...#./...#./...#./..#../.#..."},
    {'*', "...../..#../#.#.#/.###./#.#.#/..#.."},
    {'+', "...../..#../..#../#####/..#../..#.."},
    {',', "...../...../...../...../...../.##../.##../..#../.#..."},
    {'-', "...../...../...../#####"},
    {'.', "...../...../...../...../...../.##../.##.."},
    {'/', "...../....#/...#./..#../.#.../#...."},
    {'0', ".###./#...#/#..##/#.#.#/##..#/#...#/.###."},
    {'1', "..#../.##../..#../..#../..#../..#../.###."},
    {'2', ".###./#...#/....#/...#./..#../.#.../#####"},
    {'3', "#####/...#./..#../...#./....#/#...#/.###."},
    {'4', "...#./..##./.#.#./#..#./#####/...#./...#."},
    {'5', "#####/#..../####./....#/....#/#...#/.###."},
    {'6', "..##./.#.../#..../####./#...#/#...#/.###."},
    {'7', "#####/....#/...#./..#../.#.../.#.../.#..."},
    {'8', ".###./#...#/#...#/.###./#...#/#...#/.###."},
    {'9', ".###./#...#/#...#/.####/....#/...#./.##.."},
    {':', "...../.##../.##../...../.##../.##.."},
    {';', "...../.##../.##../...../.##../.##../..#../.#..."},
    {'<', "...#./..#../.#.../#..../.#.../..#../...#."},
    {'=', "...../...../#####/...../#####"},
    {'>', ".#.../..#../...#./....#/...#./..#../.#..."},
    {'?', ".###./#...#/....#/...#./..#../...../..#.."},
    {'@', ".###./#...#/....#/.##.#/#.#.#/#.#.#/.###."},
    {'A', ".###./#...#/#...#/#####/#...#/#...#/#...#"},
    {'B', "####./#...#/#...#/####./#...#/#...#/####."},
    {'C', ".###./#...#/#..../#..../#..../#...#/.###."},
    {'D', "###../#..#./#...#/#...#/#...#/#..#./###.."},
    {'E', "#####/#..../#..../####./#..../#..../#####"},
    {'F', "#####/#..../#..../####./#..../#..../#...."},
    {'G', ".###./#...#/#..../#.###/#...#/#...#/.####"},
    {'H', "#...#/#...#/#...#/#####/#...#/#...#/#...#"},
    {'I', ".###./..#../..#../..#../..#../..#../.###."},
    {'J', "..###/...#./...#./...#./...#./#..#./.##.."},
    {'K', "#...#/#..#./#.#../##.../#.#../#..#./#...#"},
    {'L', "#..../#..../#..../#..../#..../#..../#####"},
    {'M', "#...#/##.##/#.#.#/#.#.#/#...#/#...#/#...#"},
    {'N', "#...#/#...#/##..#/#.#.#/#..##/#...#/#...#"},
    {'O', ".###./#...#/#...#/#...#/#...#/#...#/.###."},
    {'P', "####./#...#/#...#/####./#..../#..../#...."},
    {'Q', ".###./#...#/#...#/#...#/#.#.#/#..#./.##.#"},
    {'R', "####./#...#/#...#/####./#.#../#..#./#...#"},
    {'S', ".####/#..../#..../.###./....#/....#/####."},
    {'T', "#####/..#../..#../..#../..#../..#../..#.."},
    {'U', "#...#/#...#/#...#/#...#/#...#/#...#/.###."},
    {'V', "#...#/#...#/#...#/#...#/#...#/.#.#./..#.."},
    {'W', "#...#/#...#/#...#/#.#.#/#.#.#/#.#.#/.#.#."},
    {'X', "#...#/#...#/.#.#./..#../.#.#./#...#/#...#"},
    {'Y', "#...#/#...#/.#.#./..#../..#../..#../..#.."},
    {'Z', "#####/....#/...#./..#../.#.../#..../#####"},
    {'[', ".###./.#.../.#.../.#.../.#.../.#.../.###."},
    {'\\', "...../#..../.#.../..#../...#./....#"},
    {']', ".###./...#./...#./...#./...#./...#./.###."},
    {'^', "..#../.#.#./#...#"},
    {'_', "...../...../...../...../...../...../...../#####"},
    {'`', ".#.../..#../...#."},
    {'a', "...../...../.###./....#/.####/#...#/.####"},
    {'b', "#..../#..../#.##./##..#/#...#/#...#/####."},
    {'c', "...../...../.###./#..../#..../#...#/.###."},
    {'d', "....#/....#/.##.#/#..##/#...#/#...#/.####"},
    {'e', "...../...../.###./#...#/#####/#..../.###."},
    {'f', "..##./.#..#/.#.../###../.#.../.#.../.#..."},
    {'g', "...../...../.####/#...#/#...#/#...#/.####/....#/.###."},
    {'h', "#..../#..../#.##./##..#/#...#/#...#/#...#"},
    {'i', "..#../...../.##../..#../..#../..#../.###."},
    {'j', "...#./...../..##./...#./...#./...#./...#./#..#./.##.."},
    {'k', "#..../#..../#..#./#.#../##.../#.#../#..#."},
    {'l', ".##../..#../..#../..#../..#../..#../.###."},
    {'m', "...../...../##.#./#.#.#/#.#.#/#.#.#/#.#.#"},
    {'n', "...../...../#.##./##..#/#...#/#...#/#...#"},
    {'o', "...../...../.###./#...#/#...#/#...#/.###."},
    {'p', "...../...../####./#...#/#...#/#...#/####./#..../#...."},
    {'q', "...../...../.####/#...#/#...#/#...#/.####/....#/....#"},
    {'r', "...../...../#.##./##..#/#..../#..../#...."},
    {'s', "...../...../.###./#..../.###./....#/####."},
    {'t', ".#.../.#.../###../.#.../.#.../.#..#/..##."},
    {'u', "...../...../#...#/#...#/#...#/#..##/.##.#"},
    {'v', "...../...../#...#/#...#/#...#/.#.#./..#.."},
    {'w', "...../...../#...#/#...#/#.#.#/#.#.#/.#.#."},
    {'x', "...../...../#...#/.#.#./..#../.#.#./#...#"},
    {'y', "...../...../#...#/#...#/#...#/#...#/.####/....#/.###."},
    {'z', "...../...../#####/...#./..#../.#.../#####"},
    {'{', "...#./..#../..#../.#.../..#../..#../...#."},
    {'|', "..#../..#../..#../..#../..#../..#../..#../..#.."},
    {'}', ".#.../..#../..#../...#./..#../..#../.#..."},
    {'~', "...../...../.#.../#.#.#/...#."},
    // Code page 437 letters and signs without an ASCII base.
    {0x91, "...../...../##.#./..#.#/.####/#.#../.####"},              // ae
    {0x92, ".####/#.#../#.#../####./#.#../#.#../#.###"},              // AE
    {0x9B, "..#../.###./#.#../#.#../#.#.#/.###./..#.."},              // cent
    {0x9C, "..##./.#..#/.#.../###../.#.../.#..#/#.##."},              // pound
    {0x9D, "#...#/.#.#./..#../#####/..#../#####/..#.."},              // yen
    {0x9E, "###../#..#./###../#..#./#.###/#..#./#..##"},              // peseta
    {0x9F, "...##/..#../..#../.###./..#../..#../..#../..#../##..."},  // florin
    {0xA6, ".###./....#/.####/#...#/.####/...../#####"},              // feminine ordinal
    {0xA7, ".###./#...#/#...#/#...#/.###./...../#####"},              // masculine ordinal
    {0xA8, "..#../...../..#../.#.../#..../#...#/.###."},              // inverted question
    {0xA9, "...../...../#####/#..../#...."},                          // reversed not
    {0xAA, "...../...../#####/....#/....#"},                          // not
    {0xAB, "#..../#..#./#.#../.#.##/#...#/...#./..###"},              // one half
    {0xAC, "#..../#..#./#.#../.#.#./#.##./..###/...#."},              // one quarter
    {0xAD, "..#../...../..#../..#../..#../..#../..#.."},              // inverted exclamation
    {0xAE, "...../..#.#/.#.#./#.#../.#.#./..#.#"},                    // left guillemet
    {0xAF, "...../#.#../.#.#./..#.#/.#.#./#.#.."},                    // right guillemet
    {0xE0, "...../...../.##.#/#..#./#..#./#..#./.##.#"},              // alpha
    {0xE1, ".##../#..#./#..#./#.#../#..#./#...#/#.##./#...."},        // sharp s
    {0xE2, "#####/#..../#..../#..../#..../#..../#...."},              // Gamma
    {0xE3, "...../...../#####/.#.#./.#.#./.#.#./.#.#."},              // pi
    {0xE4, "#####/#..../.#.../..#../.#.../#..../#####"},              // Sigma
    {0xE5, "...../...../.####/#..#./#..#./#..#./.##.."},              // sigma
    {0xE6, "...../...../#...#/#...#/#...#/#..##/###.#/#..../#...."},  // micro
    {0xE7, "...../...../.####/#.#../..#../..#../..##."},              // tau
    {0xE8, "..#../.###./#.#.#/#.#.#/#.#.#/.###./..#.."},              // Phi
    {0xE9, ".###./#...#/#...#/#####/#...#/#...#/.###."},              // Theta
    {0xEA, ".###./#...#/#...#/#...#/.#.#./.#.#./##.##"},              // Omega
    {0xEB, "..##./.#.../..#../.###./#...#/#...#/.###."},              // delta
    {0xEC, "...../...../.#.#./#.#.#/#.#.#/.#.#."},                    // infinity
    {0xED, "...../....#/.###./#.#.#/#.#.#/.###./#...."},              // phi
    {0xEE, "...../...../.###./#..../###../#..../.###."},              // epsilon
    {0xEF, "...../.###./#...#/#...#/#...#/#...#/#...#"},              // intersection
    {0xF0, "...../#####/...../#####/...../#####"},                    // identical to
    {0xF1, "..#../..#../#####/..#../..#../...../#####"},              // plus-minus
    {0xF2, ".#.../..#../...#./..#../.#.../...../#####"},              // greater or equal
    {0xF3, "...#./..#../.#.../..#../...#./...../#####"},              // less or equal
    {0xF4, "...##/..#.#/..#../..#../..#../..#../..#../..#../..#.."},  // top half integral
    {0xF5, "..#../..#../..#../..#../..#../..#../..#../#.#../.#..."},  // bottom half integral
    {0xF6, "...../..#../...../#####/...../..#.."},                    // division
    {0xF7, "...../.#.../#.#.#/...#./.#.../#.#.#/...#."},              // almost equal
    {0xF8, ".##../#..#./#..#./.##.."},                                // degree
    {0xF9, "...../...../...../.##../.##.."},                          // bullet operator
    {0xFA, "...../...../...../..#.."},                                // middle dot
    {0xFB, "....#/...#./...#./#.#../#.#../.#.../.#..."},              // square root
    {0xFC, "#.##./##..#/#...#/#...#"},                                // superscript n
    {0xFD, ".##../#..#./..#../.#.../####."},                          // superscript two
    {0xFE, "...../...../#####/#####/#####/#####"},                    // black square
};

enum class Mark { kAcute, kGrave, kCircumflex, kDiaeresis, kRing, kTilde, kCedilla };

struct Accented {
  uint8_t byte;
  char base;  // 'i' is drawn dotless under a mark
  Mark mark;
};

constexpr Accented kAccented[] = {
    {0x80, 'C', Mark::kCedilla},    {0x81, 'u', Mark::kDiaeresis}, {0x82, 'e', Mark::kAcute},
    {0x83, 'a', Mark::kCircumflex}, {0x84, 'a', Mark::kDiaeresis}, {0x85, 'a', Mark::kGrave},
    {0x86, 'a', Mark::kRing},       {0x87, 'c', Mark::kCedilla},   {0x88, 'e', Mark::kCircumflex},
    {0x89, 'e', Mark::kDiaeresis},  {0x8A, 'e', Mark::kGrave},     {0x8B, 'i', Mark::kDiaeresis},
    {0x8C, 'i', Mark::kCircumflex}, {0x8D, 'i', Mark::kGrave},     {0x8E, 'A', Mark::kDiaeresis},
    {0x8F, 'A', Mark::kRing},       {0x90, 'E', Mark::kAcute},     {0x93, 'o', Mark::kCircumflex},
    {0x94, 'o', Mark::kDiaeresis},  {0x95, 'o', Mark::kGrave},     {0x96, 'u', Mark::kCircumflex},
    {0x97, 'u', Mark::kGrave},      {0x98, 'y', Mark::kDiaeresis}, {0x99, 'O', Mark::kDiaeresis},
    {0x9A, 'U', Mark::kDiaeresis},  {0xA0, 'a', Mark::kAcute},     {0xA1, 'i', Mark::kAcute},
    {0xA2, 'o', Mark::kAcute},      {0xA3, 'u', Mark::kAcute},     {0xA4, 'n', Mark::kTilde},
    {0xA5, 'N', Mark::kTilde},
};

// Two rows each, with a blank row below them: a capital drops its second row to make room,
// a small letter's mark stands in rows 1-2; the cedilla hangs in the descender rows.
const char* MarkPicture(Mark mark) {
  switch (mark) {
    case Mark::kAcute:
      return "...#./..#..";
    case Mark::kGrave:
      return ".#.../..#..";
    case Mark::kCircumflex:
      return "..#../.#.#.";
    case Mark::kDiaeresis:
      return "...../.#.#.";
    case Mark::kRing:
      return ".###./.#.#./.###.";
    case Mark::kTilde:
      return ".##.#/#.##.";
    case Mark::kCedilla:
      return "..#../.##..";
  }
  return "";
}

void DrawPicture(const char* picture, int top_row, Glyph& glyph) {
  int column = 0, row = top_row;
  for (const char* c = picture; *c != '\0'; ++c) {
    if (*c == '/') {
      ++row;
      column = 0;
      continue;
    }
    if (*c == '#' && row >= 0 && row < kGlyphRows) glyph.Set(kPictureColumn + column, row);
    ++column;
  }
}

Glyph AccentedGlyph(const Glyph& base, bool capital, Mark mark) {
  Glyph glyph = base;
  int top = kCapRow - 1;
  if (mark == Mark::kCedilla) {
    top = kCapRow + 7;
  } else if (capital) {
    top = 0;
    glyph.rows[kCapRow] = 0;
    glyph.rows[kCapRow + 1] = base.rows[kCapRow];
  } else {
    glyph.rows[kCapRow] = glyph.rows[kCapRow + 1] = 0;  // the dot of the i
  }
  DrawPicture(MarkPicture(mark), top, glyph);
  return glyph;
}

// Arm weights: 0 none, 1 single line, 2 double line.
struct Box {
  uint8_t byte;
  uint8_t left, right, up, down;
};

constexpr Box kBoxes[] = {
    {0xB3, 0, 0, 1, 1}, {0xB4, 1, 0, 1, 1}, {0xB5, 2, 0, 1, 1}, {0xB6, 1, 0, 2, 2},
    {0xB7, 1, 0, 0, 2}, {0xB8, 2, 0, 0, 1}, {0xB9, 2, 0, 2, 2}, {0xBA, 0, 0, 2, 2},
    {0xBB, 2, 0, 0, 2}, {0xBC, 2, 0, 2, 0}, {0xBD, 1, 0, 2, 0}, {0xBE, 2, 0, 1, 0},
    {0xBF, 1, 0, 0, 1}, {0xC0, 0, 1, 1, 0}, {0xC1, 1, 1, 1, 0}, {0xC2, 1, 1, 0, 1},
    {0xC3, 0, 1, 1, 1}, {0xC4, 1, 1, 0, 0}, {0xC5, 1, 1, 1, 1}, {0xC6, 0, 2, 1, 1},
    {0xC7, 0, 1, 2, 2}, {0xC8, 0, 2, 2, 0}, {0xC9, 0, 2, 0, 2}, {0xCA, 2, 2, 2, 0},
    {0xCB, 2, 2, 0, 2}, {0xCC, 0, 2, 2, 2}, {0xCD, 2, 2, 0, 0}, {0xCE, 2, 2, 2, 2},
    {0xCF, 2, 2, 1, 0}, {0xD0, 1, 1, 2, 0}, {0xD1, 2, 2, 0, 1}, {0xD2, 1, 1, 0, 2},
    {0xD3, 0, 1, 2, 0}, {0xD4, 0, 2, 1, 0}, {0xD5, 0, 2, 0, 1}, {0xD6, 0, 1, 0, 2},
    {0xD7, 1, 1, 2, 2}, {0xD8, 2, 2, 1, 1}, {0xD9, 1, 0, 1, 0}, {0xDA, 0, 1, 0, 1},
};

// A single line runs through the middle column or row; a double line is the two beside it.
constexpr int kMidColumn = 3, kMidRow = 5;

void Fill(Glyph& glyph, int column0, int column1, int row0, int row1, bool ink) {
  for (int row = row0; row <= row1; ++row) {
    for (int column = column0; column <= column1; ++column) {
      if (ink) {
        glyph.Set(column, row);
      } else {
        glyph.rows[row] &= static_cast<uint8_t>(~(1u << column));
      }
    }
  }
}

// Double arms are drawn as a band three wide with its middle carved out, reaching across a
// double crossing line so that corners close; single arms come last, stopping at the near
// line of a double line that runs through, at its far line where it ends.
Glyph DrawBox(const Box& box) {
  Glyph glyph;
  const int last_column = kGlyphColumns - 1, last_row = kGlyphRows - 1;
  const int across_h = std::max(box.up, box.down);     // what a horizontal arm meets
  const int across_v = std::max(box.left, box.right);  // what a vertical arm meets
  const int reach_h = across_h == 2 ? 1 : 0;
  const int reach_v = across_v == 2 ? 1 : 0;
  if (box.left == 2) Fill(glyph, 0, kMidColumn + reach_h, kMidRow - 1, kMidRow + 1, true);
  if (box.right == 2)
    Fill(glyph, kMidColumn - reach_h, last_column, kMidRow - 1, kMidRow + 1, true);
  if (box.up == 2) Fill(glyph, kMidColumn - 1, kMidColumn + 1, 0, kMidRow + reach_v, true);
  if (box.down == 2) Fill(glyph, kMidColumn - 1, kMidColumn + 1, kMidRow - reach_v, last_row, true);
  if (box.left == 2) Fill(glyph, 0, kMidColumn, kMidRow, kMidRow, false);
  if (box.right == 2) Fill(glyph, kMidColumn, last_column, kMidRow, kMidRow, false);
  if (box.up == 2) Fill(glyph, kMidColumn, kMidColumn, 0, kMidRow, false);
  if (box.down == 2) Fill(glyph, kMidColumn, kMidColumn, kMidRow, last_row, false);
  // How far past the middle a single arm stops: 0 at the middle, -1 short of it, +1 beyond.
  const auto stop = [](int opposite, int across, bool through) {
    if (opposite != 0 || across != 2) return 0;
    return through ? -1 : 1;
  };
  const bool vertical_through = box.up != 0 && box.down != 0;
  const bool horizontal_through = box.left != 0 && box.right != 0;
  if (box.left == 1) {
    Fill(glyph, 0, kMidColumn + stop(box.right, across_h, vertical_through), kMidRow, kMidRow,
         true);
  }
  if (box.right == 1) {
    Fill(glyph, kMidColumn - stop(box.left, across_h, vertical_through), last_column, kMidRow,
         kMidRow, true);
  }
  if (box.up == 1) {
    Fill(glyph, kMidColumn, kMidColumn, 0, kMidRow + stop(box.down, across_v, horizontal_through),
         true);
  }
  if (box.down == 1) {
    Fill(glyph, kMidColumn, kMidColumn, kMidRow - stop(box.up, across_v, horizontal_through),
         last_row, true);
  }
  return glyph;
}

// B0h-B2h shades, DBh-DFh blocks.
Glyph Shade(uint8_t byte) {
  Glyph glyph;
  for (int row = 0; row < kGlyphRows; ++row) {
    for (int column = 0; column < kGlyphColumns; ++column) {
      const bool odd_column = column % 2 != 0, odd_row = row % 2 != 0;
      bool ink = false;
      switch (byte) {
        case 0xB0:
          ink = !odd_column && !odd_row;
          break;
        case 0xB1:
          ink = odd_column == odd_row;
          break;
        case 0xB2:
          ink = !(odd_column && odd_row);
          break;
        case 0xDB:
          ink = true;
          break;
        case 0xDC:
          ink = row >= kGlyphRows / 2;
          break;
        case 0xDD:
          ink = column <= kMidColumn;
          break;
        case 0xDE:
          ink = column >= kMidColumn;
          break;
        case 0xDF:
          ink = row < kGlyphRows / 2;
          break;
        default:
          break;
      }
      if (ink) glyph.Set(column, row);
    }
  }
  return glyph;
}

}  // namespace

Font BuildFont() {
  Font font{};
  for (const Drawn& drawn : kDrawn) DrawPicture(drawn.picture, kCapRow, font[drawn.byte]);
  for (const Accented& letter : kAccented) {
    const bool capital = letter.base >= 'A' && letter.base <= 'Z';
    font[letter.byte] =
        AccentedGlyph(font[static_cast<uint8_t>(letter.base)], capital, letter.mark);
  }
  for (const Box& box : kBoxes) font[box.byte] = DrawBox(box);
  for (uint8_t byte : {0xB0, 0xB1, 0xB2, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF}) font[byte] = Shade(byte);
  return font;
}

}  // namespace kembview::detail
