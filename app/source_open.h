#pragma once
// Opens, once per run, the evidence source the option parser chose.
#include "app/user_ctx.h"

// True when a source is open afterwards. Returns at once when one already is,
// so callers may call it before every use. Prints nothing.
bool initialize_mft(user_ctx& ctx);
