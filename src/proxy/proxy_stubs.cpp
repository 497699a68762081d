// Neutral stand-ins for proxy operations that are not built yet. Each is removed from here when
// its real version lands elsewhere. Remove with a targeted edit; others edit this file too.
#include "proxy/kavori_player_proxy.h"

