// Layer III Huffman code tables as decision trees.
#pragma once

#include <cstdint>

namespace kuv {

struct HuffmanTable {
  const int16_t* tree;  // see huffman_tables.cpp
  int32_t size;         // entries in the tree
  int32_t linbits;
};

// Big-value tables 0..31 (0, 4 and 14 decode zeros without reading a bit).
extern const HuffmanTable kHuffmanTables[32];
// Count1 tables A and B.
extern const HuffmanTable kCount1Tables[2];

}  // namespace kuv
