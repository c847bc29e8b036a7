#include "decoder/decoder_state.h"

#include <mutex>

#include "decoder/layer12.h"

namespace kuv {

void prepareDecoderTables() {
  static std::once_flag built;
  std::call_once(built, [] {
    buildSynthesisWindow(32768.0);
    buildLayerTables();
    buildEightBitTable();
    initLayer3Tables();
  });
}

}  // namespace kuv
