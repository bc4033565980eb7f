// The reason table's lookup, shared by wl_reason_words and the tree's own
// program, which shows a code without words as its bare number.
#pragma once

#include "worldlink/worldlink.h"

namespace worldlink {

// The words of a code in WL_REASONS, or null.
const char* reason_table_words(int code);

}  // namespace worldlink
