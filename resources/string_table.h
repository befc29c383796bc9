// The library's string table: the compile error texts by identifier.
#pragma once

namespace kalo::resources {

// The text of string `id`, or null when the table has no such string.
const char* FindString(unsigned id);

}  // namespace kalo::resources
