#include "proxy/kavori_player_proxy.h"
#include "util/ffmpeg_log.h"
#include "util/ohos_log.h"

// Process-wide and one-way: the id only chose which instance was looked up.
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_native_openlog() {
    ohos_log_switch_on();
    open_custom_ffmpeg_log_print();
}
