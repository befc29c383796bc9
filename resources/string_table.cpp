#include "resources/string_table.h"

namespace kalo::resources {
namespace {

struct StringEntry {
  unsigned id;
  const char* text;
};

constexpr StringEntry STRINGS[] = {
#define KALO_STRING(id, text) {id, text},
#include "resources/compile_errors.def"
#undef KALO_STRING
};

constexpr bool IdsAscend() {
  for (unsigned i = 1; i < sizeof(STRINGS) / sizeof(STRINGS[0]); ++i)
    if (STRINGS[i].id <= STRINGS[i - 1].id) return false;
  return true;
}
static_assert(IdsAscend(), "string identifiers must be unique and ascending");

}  // namespace

const char* FindString(unsigned id) {
  for (const StringEntry& entry : STRINGS)
    if (entry.id == id) return entry.text;
  return nullptr;
}

}  // namespace kalo::resources
