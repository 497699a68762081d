// Neutral stand-ins for proxy operations that are not built yet. Each is removed from here when
// its real version lands elsewhere. Remove with a targeted edit; others edit this file too.
#include "proxy/kavori_player_proxy.h"

KavoriCloudPlayerNapiProxy::KavoriCloudPlayerNapiProxy(std::string &id) : id_(id) {}

// --- engine player registry and lifecycle
KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::get_media_player(std::string) { return nullptr; }
KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::set_media_player(std::string, KavoriCloudMediaPlayer *mp) { return mp; }
void KavoriCloudPlayerNapiProxy::delete_media_player(std::string) {}
void KavoriCloudPlayerNapiProxy::message_loop_callback(MessageLoopCallback) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_native_init(void *, void *) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_native_init_audio(void *) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_native_setup() {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_native_setup_audio() {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_release() {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_reset() {}
void KavoriCloudPlayerNapiProxy::end_media_player() {}

// --- control adapters
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setDataSource(char *) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setDataSourceFd(int) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setDecryptTokenForHLS(char *) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setOption(int, char *, char *) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setOptionLong(int, char *, long) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_prepareAsync() {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_start() {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_pause() {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_stop() {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_seekTo(long) {}
bool KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_isPlaying() { return false; }
int KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getCurrentPosition() { return 0; }
int KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getDuration() { return 0; }
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setVolume(float, float) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setPropertyFloat(int, float) {}
float KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getPropertyFloat(int, float) { return 0.0f; }
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setPropertyLong(int, long) {}
long KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getPropertyLong(int, long) { return 0; }
int KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getAudioSessionId() { return 0; }
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setLoopCount(int) {}
int KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getLoopCount() { return 0; }
char *KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getVideoCodecInfo() { return nullptr; }
char *KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getAudioCodecInfo() { return nullptr; }
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_setStreamSelected(int, bool) {}
void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_addExtSubtitleUrl(char *) {}

// --- recording adapters
int KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_startRecord(int) { return 0; }
int KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_stopRecord() { return 0; }
int KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_isRecord() { return 0; }

// --- message loop
int message_loop(void *) { return 0; }
void message_loop_n(void *) {}
MessageLoopCallback load_message_loop_callback() { return nullptr; }
