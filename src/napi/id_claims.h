// Claims of player ids by environment: the ArkTS package claims the id of each player it makes,
// so that no other thread's package generates or takes an id a live player holds, whether or not
// that player has an engine player yet.
//
// Threads: called on the JS thread of the claiming environment; the table has its own mutex,
// never held while calling into JS.
#ifndef KAVORI_NAPI_ID_CLAIMS_H
#define KAVORI_NAPI_ID_CLAIMS_H

#include <napi/native_api.h>

// _claimId(id, claimed): claimed true gives 1 when this environment holds the id's claim (made
// now or before), 2 when another environment holds it (nothing changes); claimed false drops this
// environment's claim and gives 0. The empty id gives 0. An environment's end drops its claims.
napi_value ClaimId(napi_env env, napi_callback_info info);

#endif
