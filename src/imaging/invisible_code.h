#pragma once

// The parts of the invisible mark that its tests check one by one: the
// coding of the payload and the finding of the tiles' lattice.

#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/invisible_mark.h"

namespace velda::invisible {

// The tile is kTile x kTile cells; a cell is one value of the noise, drawn
// over a square of pixels whose side grows with the picture.
inline constexpr int kTile = 32;
inline constexpr int kCells = kTile * kTile;
// The cells whose values are known to the detector, for the tile's offset.
inline constexpr int kSyncCells = 160;
// 64 bits of payload and 8 of its form, a 24-bit check, and the 6 bits
// that bring the rate-1/3 convolutional code back to its first state.
inline constexpr int kInfoBits = 72, kCheckBits = 24, kTailBits = 6;
inline constexpr int kCodedBits = 3 * (kInfoBits + kCheckBits + kTailBits);

// The coded bits (0 or 1) that carry a payload.
std::vector<uint8_t> EncodePayload(const InvisiblePayload& payload);
// The payload whose coded bits these soft values most likely are (a value
// above 0 leans to 0), when its check holds.
std::optional<InvisiblePayload> DecodePayload(const std::vector<float>& soft);

// The tile's values, +1 or -1, row by row.
std::vector<float> TileValues(const InvisiblePayload& payload);
// For every cell: the coded bit it carries (-1: a known cell), and the
// sign its value has when that bit is 0.
struct CellRole {
    int bit;
    float sign;
};
const std::vector<CellRole>& CellRoles();

// Pixels of a side of a cell for a picture of this size.
int CellSide(int width, int height);

// Two vectors, in pixels, from a tile to the next along its rows and along
// its columns.
struct Lattice {
    double x1, y1, x2, y2;
};
// The likeliest lattices of tiles in a whitened picture, best first, at
// most `most`.
std::vector<Lattice> FindLattices(const std::vector<float>& whitened, int width, int height,
                                  int most);

// The picture's luminance with its content taken away, as the detector sees
// it: local mean removed, and scaled to the local contrast.
std::vector<float> Whiten(const std::vector<float>& luma, int width, int height);

}  // namespace velda::invisible
