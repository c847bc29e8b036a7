// Builds the Huffman lookup tables from the decision trees.
#include "layer3/huffman_lookup.h"

#include "layer3/huffman_tables.h"

namespace kuv {

HuffmanLookup huffmanLookup;

namespace {

// Longest path from a tree node to a leaf. A node below zero branches: bit 0
// goes to the next entry, bit 1 skips -tree[node] entries further.
int32_t depthBelow(const int16_t* tree, int32_t node) {
  if (tree[node] >= 0) return 0;
  const int32_t zero = depthBelow(tree, node + 1);
  const int32_t one = depthBelow(tree, node + 1 - tree[node]);
  return 1 + (zero > one ? zero : one);
}

int32_t levelWidth(const int16_t* tree, int32_t node) {
  const int32_t depth = depthBelow(tree, node);
  // A tree that is one leaf still gets a level of one bit, whose entries
  // take no bits.
  if (depth < 1) return 1;
  return depth < kLookupLevelBits ? depth : kLookupLevelBits;
}

// Fills a level of `width` bits for the subtree at `node`; returns its first
// entry, or -1 when the entries run out.
int32_t buildLevel(const int16_t* tree, int32_t node, int32_t width) {
  const int32_t first = huffmanLookup.used;
  const int32_t count = 1 << width;
  if (first + count > kLookupEntries) return -1;
  huffmanLookup.used += count;
  for (int32_t pattern = 0; pattern < count; ++pattern) {
    int32_t at = node;
    int32_t taken = 0;
    while (tree[at] < 0 && taken < width) {
      if ((pattern >> (width - 1 - taken)) & 1) at += -tree[at];
      ++at;
      ++taken;
    }
    uint32_t entry;
    if (tree[at] >= 0) {
      const uint32_t value = static_cast<uint32_t>(tree[at] & 0xFF);
      const uint32_t x = value >> 4, y = value & 15;
      const uint32_t withSigns = static_cast<uint32_t>(taken) + (x != 0) + (y != 0);
      entry = value | static_cast<uint32_t>(taken) << 8 | withSigns << 13 | static_cast<uint32_t>(x == 15) << 18 |
              static_cast<uint32_t>(y == 15) << 19;
    } else {
      const int32_t nextWidth = levelWidth(tree, at);
      const int32_t next = buildLevel(tree, at, nextWidth);
      if (next < 0) return -1;
      entry = kLookupLink | static_cast<uint32_t>(nextWidth) | static_cast<uint32_t>(width) << 8 |
              static_cast<uint32_t>(next) << 13;
    }
    huffmanLookup.entries[first + pattern] = entry;
  }
  return first;
}

HuffmanLookupTable buildTable(const HuffmanTable& table) {
  HuffmanLookupTable out{};
  out.rootBits = levelWidth(table.tree, 0);
  out.first = buildLevel(table.tree, 0, out.rootBits);
  out.linbits = table.linbits;
  return out;
}

}  // namespace

void buildHuffmanLookup() {
  huffmanLookup.used = 0;
  // Tables sharing a tree share its levels.
  for (int t = 0; t < 32; ++t) {
    int shared = -1;
    for (int s = 0; s < t && shared < 0; ++s)
      if (kHuffmanTables[s].tree == kHuffmanTables[t].tree) shared = s;
    if (shared >= 0) {
      huffmanLookup.tables[t] = huffmanLookup.tables[shared];
      huffmanLookup.tables[t].linbits = kHuffmanTables[t].linbits;
    } else {
      huffmanLookup.tables[t] = buildTable(kHuffmanTables[t]);
    }
  }
  for (int t = 0; t < 2; ++t) huffmanLookup.count1[t] = buildTable(kCount1Tables[t]);
}

}  // namespace kuv
