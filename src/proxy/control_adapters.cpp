// Control adapters: each finds the id's engine player, makes one engine call with its arguments
// unchanged while holding a reference, and gives a neutral value when there is no player.
//
// Threads: JS threads; stopRecord also runs on the stop-recording worker. No state of their own but
// the per-thread copy of a codec text.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "proxy/adapter_run.h"
#include "proxy/engine_ref.h"
#include "proxy/kavori_player_proxy.h"
#include "proxy/registry_read.h"
#include "util/ohos_log.h"

using Proxy = KavoriCloudPlayerNapiProxy;
using Player = KavoriCloudMediaPlayer;

namespace {

// The recording adapters write no line, and hand even a missing player to kvmp_dec_ref_p.
template <typename Call>
int AskRecording(Player *found, Call &&call) {
    if (found == nullptr) {
        kvmp_dec_ref_p(&found);
        return 0;
    }
    return Ask(found, nullptr, 0, call);
}

// The engine's text lives only as long as its player, which may end on another thread as soon as
// the reference is dropped: hand out a copy, valid until this thread's next codec query.
char *CodecText(int (*query)(Player *, char **), Player *mp) {
    thread_local std::string copy;
    char *text = nullptr;
    query(mp, &text);
    if (text == nullptr) {
        return nullptr;
    }
    copy = text;
    return &copy[0];
}

}  // namespace

// Three numbered level-E lines around the engine call: a log reader tells from the last one
// present whether a source set hung in the engine or came back.
void Proxy::KavoriCloudMediaPlayer_setDataSource(char *url) {
    {
        EngineRef mp(own_media_player());
        if (!mp) {
            LOGE("napi_proxy-->KavoriCloudMediaPlayer_setDataSource mp NULL");
            return;
        }
        LOGE("napi_proxy-->KavoriCloudMediaPlayer_setDataSource %d", 317);
        kvmp_set_data_source(mp.get(), url);
        LOGE("napi_proxy-->KavoriCloudMediaPlayer_setDataSource %d", 319);
    }
    LOGE("napi_proxy-->KavoriCloudMediaPlayer_setDataSource %d", 321);
}

// The duplicate belongs to the player and is closed once the player is shut down; the caller's
// descriptor stays the caller's. A failed dup still replaces the source, with pipe:-1, so that
// prepare fails with an error event instead of playing the previous source.
void Proxy::KavoriCloudMediaPlayer_setDataSourceFd(int fd) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_setDataSourceFd", [&](Player *mp) {
        int duplicate = dup(fd);
        if (duplicate < 0) {
            LOGE("napi_proxy-->KavoriCloudMediaPlayer_setDataSourceFd dup failed");
            duplicate = -1;
        }
        char url[128] = {0};
        snprintf(url, sizeof(url), "pipe:%d", duplicate);
        kvmp_set_data_source(mp, url);
        if (duplicate >= 0 && !keep_duplicate(mp, duplicate)) {
            close(duplicate);  // ended (so shut down) meanwhile on another thread
        }
    });
}

void Proxy::KavoriCloudMediaPlayer_setDecryptTokenForHLS(char *token) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_setDecryptTokenForHLS",
        [&](Player *mp) { kvmp_set_decrypt_token_for_hls(mp, token); });
}

void Proxy::KavoriCloudMediaPlayer_setOption(int category, char *name, char *value) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_setOption",
        [&](Player *mp) { kvmp_set_option(mp, category, name, value); });
}

void Proxy::KavoriCloudMediaPlayer_setOptionLong(int category, char *name, long value) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_setOptionLong",
        [&](Player *mp) { kvmp_set_option_int(mp, category, name, value); });
}

void Proxy::KavoriCloudMediaPlayer_prepareAsync() {
    Run(own_media_player(), "KavoriCloudMediaPlayer_prepareAsync", kvmp_prepare_async);
}

void Proxy::KavoriCloudMediaPlayer_start() {
    Run(own_media_player(), "KavoriCloudMediaPlayer_start", kvmp_start);
}

void Proxy::KavoriCloudMediaPlayer_pause() {
    Run(own_media_player(), "KavoriCloudMediaPlayer_pause", kvmp_pause);
}

void Proxy::KavoriCloudMediaPlayer_stop() {
    Run(own_media_player(), "KavoriCloudMediaPlayer_stop", kvmp_stop);
}

void Proxy::KavoriCloudMediaPlayer_seekTo(long msec) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_seekTo",
        [&](Player *mp) { kvmp_seek_to(mp, msec); });
}

bool Proxy::KavoriCloudMediaPlayer_isPlaying() {
    Player *found = own_media_player();
    LOGE("napi_proxy-->KavoriCloudMediaPlayer_isPlaying");
    return Ask(found, "KavoriCloudMediaPlayer_isPlaying", false,
               [](Player *mp) { return (kvmp_is_playing(mp) & 1) != 0; });
}

int Proxy::KavoriCloudMediaPlayer_getDuration() {
    return Ask(own_media_player(), "KavoriCloudMediaPlayer_getDuration", 0, kvmp_get_duration);
}

void Proxy::KavoriCloudMediaPlayer_setVolume(float left, float right) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_setVolume",
        [&](Player *mp) { kvmp_set_volume(mp, left, right); });
}

void Proxy::KavoriCloudMediaPlayer_setPropertyFloat(int property, float value) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_setPropertyFloat",
        [&](Player *mp) { kvmp_set_property_float(mp, property, value); });
}

float Proxy::KavoriCloudMediaPlayer_getPropertyFloat(int property, float fallback) {
    return Ask(own_media_player(), "KavoriCloudMediaPlayer_getPropertyFloat", 0.0f,
               [&](Player *mp) { return kvmp_get_property_float(mp, property, fallback); });
}

void Proxy::KavoriCloudMediaPlayer_setPropertyLong(int property, long value) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_setPropertyLong",
        [&](Player *mp) { kvmp_set_property_int64(mp, property, value); });
}

long Proxy::KavoriCloudMediaPlayer_getPropertyLong(int property, long fallback) {
    return Ask(own_media_player(), "KavoriCloudMediaPlayer_getPropertyLong", 0L,
               [&](Player *mp) { return kvmp_get_property_int64(mp, property, fallback); });
}

int Proxy::KavoriCloudMediaPlayer_getAudioSessionId() {
    return Ask(own_media_player(), "KavoriCloudMediaPlayer_getAudioSessionId", 0,
               kvmp_get_audio_session_id);
}

void Proxy::KavoriCloudMediaPlayer_setLoopCount(int count) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_setLoopCount",
        [&](Player *mp) { kvmp_set_loop(mp, count); });
}

int Proxy::KavoriCloudMediaPlayer_getLoopCount() {
    return Ask(own_media_player(), "KavoriCloudMediaPlayer_getLoopCount", 0, kvmp_get_loop);
}

char *Proxy::KavoriCloudMediaPlayer_getVideoCodecInfo() {
    return Ask<char *>(own_media_player(), "KavoriCloudMediaPlayer_getVideoCodecInfo", nullptr,
                       [](Player *mp) { return CodecText(kvmp_get_video_codec_info, mp); });
}

char *Proxy::KavoriCloudMediaPlayer_getAudioCodecInfo() {
    LOGI("%s\n", "KavoriCloudMediaPlayer_getAudioCodecInfo");
    return Ask<char *>(own_media_player(), "KavoriCloudMediaPlayer_getAudioCodecInfo", nullptr,
                       [](Player *mp) { return CodecText(kvmp_get_audio_codec_info, mp); });
}

void Proxy::KavoriCloudMediaPlayer_setStreamSelected(int stream, bool select) {
    Run(own_media_player(), "KavoriCloudMediaPlayer_setStreamSelected", [&](Player *mp) {
        if (kvmp_set_stream_selected(mp, stream, select) < 0) {
            LOGI("failed to %s %d", select ? "select" : "deselect", stream);
        }
    });
}

void Proxy::KavoriCloudMediaPlayer_addExtSubtitleUrl(char *url) {
    // setDataSource's line: log readers see a subtitle URL as one more source of the player.
    Run(own_media_player(), "KavoriCloudMediaPlayer_setDataSource",
        [&](Player *mp) { kvmp_add_ext_subtitle_url(mp, url); });
}

int Proxy::KavoriCloudMediaPlayer_startRecord(int value) {
    return AskRecording(own_media_player(),
                        [&](Player *mp) { return kvmp_start_record(mp, value); });
}

int Proxy::KavoriCloudMediaPlayer_stopRecord() {
    return AskRecording(own_media_player(), kvmp_stop_record);
}

int Proxy::KavoriCloudMediaPlayer_isRecord() {
    return AskRecording(own_media_player(), kvmp_is_record);
}
