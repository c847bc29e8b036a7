#include "app/remote_query.h"

#include <charconv>
#include <cinttypes>

namespace kuv {

namespace {

struct QueryName {
  const char* name;
  uint32_t message;
  bool takesValue;
};

constexpr QueryName kQueryNames[] = {
    {"position", MW_GET_OUTPUT_POSITION, false},
    {"frames-played", MW_GET_FRAMES_PLAYED, false},
    {"total-frames", MW_GET_TOTAL_FRAMES, false},
    {"volume", MW_GET_VOLUME, false},
    {"set-volume", MW_SET_VOLUME, true},
    {"seek-frame", MW_SEEK_FRAME, true},
    {"state", MW_GET_STATE, false},
    {"sample-rate", MW_GET_SAMPLE_RATE, false},
    {"layer", MW_GET_LAYER, false},
    {"bit-rate", MW_GET_BIT_RATE, false},
    {"channels", MW_GET_CHANNELS, false},
    {"seek-ms", MW_SEEK_MS, true},
};

// Strict decimal: an optional '-', then digits only, within 32 bits.
bool parseDecimal(const std::string& text, int32_t& value) {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (*first == '-' ? text.size() < 2 || first[1] < '0' || first[1] > '9' : *first < '0' || *first > '9') return false;
  int32_t parsed = 0;
  const auto [end, error] = std::from_chars(first, last, parsed, 10);
  if (error != std::errc() || end != last) return false;
  value = parsed;
  return true;
}

}  // namespace

bool parseQueryName(const std::string& text, uint32_t& message, int32_t& value) {
  const size_t equals = text.find('=');
  const std::string name = text.substr(0, equals);
  for (const QueryName& entry : kQueryNames) {
    if (name != entry.name) continue;
    if (!entry.takesValue) {
      if (equals != std::string::npos) return false;
      message = entry.message;
      value = 0;
      return true;
    }
    int32_t parsed = 0;
    if (equals == std::string::npos || !parseDecimal(text.substr(equals + 1), parsed)) return false;
    message = entry.message;
    value = parsed;
    return true;
  }
  return false;
}

std::string queryNameList() {
  std::string list;
  for (const QueryName& entry : kQueryNames) {
    if (!list.empty()) list += ", ";
    list += entry.name;
    if (entry.takesValue) list += "=N";
  }
  return list;
}

int runQuery(const std::string& nameText, FILE* out, FILE* err, const std::string& socketName) {
  InstanceRequest request;
  request.kind = kKindQuery;
  if (!parseQueryName(nameText, request.code, request.value)) {
    std::fprintf(err, "kuv: unknown query \"%s\"; valid queries: %s\n", nameText.c_str(), queryNameList().c_str());
    return 2;
  }
  InstanceClient client;
  if (!client.connect(socketName)) {
    std::fprintf(err, "kuv: no running instance to ask\n");
    return 1;
  }
  int32_t result = 0;
  if (!client.request(request, result)) {
    std::fprintf(err, "kuv: the running instance did not answer the query\n");
    return 1;
  }
  std::fprintf(out, "%" PRId32 "\n", result);
  std::fflush(out);
  return 0;
}

}  // namespace kuv
