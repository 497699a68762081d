// An engine-side file reaching up into the JS side: scripts/check-layers.sh must reject this tree.
#include "napi/event_bridge.h"
