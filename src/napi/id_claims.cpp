// The id claims table (id_claims.h).
#include "napi/id_claims.h"

#include <iterator>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "napi/method_frame.h"
#include "napi/napi_util.h"
#include "util/ohos_log.h"

namespace {

constexpr int32_t kNoClaim = 0;
constexpr int32_t kClaimedHere = 1;
constexpr int32_t kClaimedElsewhere = 2;

std::mutex &claims_mutex() {
    static auto *mutex = new std::mutex;
    return *mutex;
}
// Never destroyed: an environment may end while the process exits.
auto &claims = *new std::unordered_map<std::string, napi_env>;
// The environments whose end hook is registered: Node refuses a hook registered twice.
auto &hooked = *new std::unordered_set<napi_env>;

void DropClaimsOf(void *arg) {
    napi_env env = static_cast<napi_env>(arg);
    std::lock_guard<std::mutex> lock(claims_mutex());
    for (auto it = claims.begin(); it != claims.end();) {
        it = it->second == env ? claims.erase(it) : std::next(it);
    }
    hooked.erase(env);
}

// Under claims_mutex(): an environment whose end hook could not be registered takes no claim,
// as its claims would outlive it.
bool HookedLocked(napi_env env) {
    if (hooked.count(env) != 0) return true;
    hooked.reserve(hooked.size() + 1);  // the insert below cannot throw once the hook is in
    if (napi_add_env_cleanup_hook(env, DropClaimsOf, env) != napi_ok) return false;
    hooked.insert(env);
    return true;
}

int32_t Claim(napi_env env, const std::string &id, bool claimed) {
    std::lock_guard<std::mutex> lock(claims_mutex());
    auto found = claims.find(id);
    if (!claimed) {
        if (found != claims.end() && found->second == env) claims.erase(found);
        return kNoClaim;
    }
    if (found != claims.end()) return found->second == env ? kClaimedHere : kClaimedElsewhere;
    if (!HookedLocked(env)) {
        LOGE("napi-->claimId environment end hook failed");
        return kNoClaim;
    }
    claims.emplace(id, env);
    return kClaimedHere;
}

}  // namespace

napi_value ClaimId(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        size_t argc = 2;
        napi_value args[2] = {nullptr, nullptr};
        napi_get_cb_info(env, info, &argc, args, nullptr, nullptr);
        // Read as every method reads its id, so a claim covers exactly the id the methods see.
        char chars[kJsTextBufferSize];
        size_t length = argc >= 1 ? ReadJsText(env, args[0], chars, sizeof(chars)) : 0;
        bool claimed = false;
        if (argc >= 2) napi_get_value_bool(env, args[1], &claimed);
        int32_t answer = length == 0 ? kNoClaim : Claim(env, std::string(chars, length), claimed);
        napi_value result = nullptr;
        napi_create_int32(env, answer, &result);
        return result;
    });
}
