// One block of an image as the link sends it to a handset. The link owns the
// record's shape (it is what SendBlock writes); the image reader fills it.
#pragma once

#include <cstdint>

constexpr int BLOCK_SIZE = 1024;

/// A block as it travels to the handset: the link writes the first `length`
/// bytes of `data`. 1031 bytes when packed, as on the wire side's records.
#pragma pack(push, 1)
struct BlockRecord {
  uint8_t first = 0;     ///< not used; left as it is
  uint32_t address = 0;  ///< the block's offset in the image file
  uint16_t length = 0;   ///< 1024 for every block the image reader fills
  uint8_t data[BLOCK_SIZE] = {};
};
#pragma pack(pop)
static_assert(sizeof(BlockRecord) == 1031);
