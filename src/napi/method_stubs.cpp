// Neutral stand-ins for JS methods that are not built yet: each resolves its id and instance and
// gives its neutral result. Removed one by one (targeted edits; others edit this file too).
#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "napi/napi_util.h"

