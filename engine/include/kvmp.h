// Public interface of the player engine libkavoriplayer.so.
//
// Threads: every kvmp_* call may come from any thread. A player's message thread runs the
// entry given to kvmp_create; kvmp_get_msg is meant for that thread.
#ifndef KAVORI_ENGINE_KVMP_H
#define KAVORI_ENGINE_KVMP_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KavoriCloudMediaPlayer KavoriCloudMediaPlayer;
typedef struct KavoriCloudMediaMeta KavoriCloudMediaMeta;

// Message codes of EngineMessage.what.
enum {
    KVP_MSG_FLUSH = 0,
    KVP_MSG_ERROR = 100,
    KVP_MSG_PREPARED = 200,
    KVP_MSG_COMPLETED = 300,
    KVP_MSG_VIDEO_SIZE_CHANGED = 400,
    KVP_MSG_SAR_CHANGED = 401,
    KVP_MSG_VIDEO_RENDERING_START = 402,
    KVP_MSG_AUDIO_RENDERING_START = 403,
    KVP_MSG_VIDEO_ROTATION_CHANGED = 404,
    KVP_MSG_AUDIO_DECODED_START = 405,
    KVP_MSG_VIDEO_DECODED_START = 406,
    KVP_MSG_OPEN_INPUT = 407,
    KVP_MSG_FIND_STREAM_INFO = 408,
    KVP_MSG_COMPONENT_OPEN = 409,
    KVP_MSG_FRAMECHASING_START = 410,
    KVP_MSG_FRAMECHASING_END = 411,
    KVP_MSG_EXT_SEI_NALU = 422,
    KVP_MSG_EXT_TEXT = 428,
    KVP_MSG_AUDIO_INTERRUPT = 429,
    KVP_MSG_BUFFERING_START = 500,
    KVP_MSG_BUFFERING_END = 501,
    KVP_MSG_BUFFERING_UPDATE = 502,
    KVP_MSG_BUFFERING_BYTES_UPDATE = 503,
    KVP_MSG_BUFFERING_TIME_UPDATE = 504,
    KVP_MSG_SEEK_COMPLETE = 600,
    KVP_MSG_PLAYBACK_STATE_CHANGED = 700,
    KVP_MSG_TIMED_TEXT = 800,
    KVP_MSG_ACCURATE_SEEK_COMPLETE = 900,
};

// Option category of kvmp_set_option / kvmp_set_option_int for the source: each option goes to
// FFmpeg as it is named there ("timeout" in microseconds, "user_agent", "headers" as lines ending
// in CRLF, ...), when the next prepare opens the URL.
#define KVMP_OPT_CATEGORY_FORMAT 1
// "timeout" when the source sets none: the bound of a network source's whole open, and of each
// read or seek that waits for data, after which it ends with AVERROR(ETIMEDOUT). Microseconds.
#define KVMP_FORMAT_DEFAULT_TIMEOUT_US 15000000
// Option category of kvmp_set_option / kvmp_set_option_int for the player itself.
#define KVMP_OPT_CATEGORY_PLAYER 4
// Player option (int): playback speed as a multiple of real time; 0 plays unpaced.
#define KVMP_OPT_SPEED "speed"
// Float property: the playback rate as a multiple of real time, fractions included. Reading it
// gives the rate in effect; a rate the engine cannot play is refused and the current one kept.
#define KVMP_PROP_FLOAT_PLAYBACK_RATE 10003
// Read-only int64 properties of the prepared media; the default comes back before prepare.
// STREAM_COUNT: its streams, in metadata order. STREAM_TYPE + i: the type of stream i, one of
// KVMP_STREAM_*; i from 0 to 99.
#define KVMP_PROP_INT64_STREAM_COUNT 20001
#define KVMP_PROP_INT64_STREAM_TYPE 20100
enum {
    KVMP_STREAM_UNKNOWN = 0,
    KVMP_STREAM_VIDEO = 1,
    KVMP_STREAM_AUDIO = 2,
    KVMP_STREAM_TIMEDTEXT = 3
};

typedef struct EngineMessage {
    int32_t what;
    int32_t param1;
    int32_t param2;
    void *obj;                   // payload or NULL; released with free_l
    void (*free_l)(void *obj);   // set whenever obj is
    struct EngineMessage *next;  // the queue's own link
} EngineMessage;

// Releases the payload once; a payload without its release function breaks the contract.
static inline void msg_free_res(EngineMessage *msg) {
    if (!msg || !msg->obj) return;
    if (!msg->free_l) {
        fputs("assertion failed: msg->free_l\n", stderr);
        abort();
    }
    msg->free_l(msg->obj);
    msg->obj = NULL;
}

void kvmp_global_init(void);

// New player holding one reference for the caller; entry runs on the player's message thread
// with the player as argument and one reference taken for it, which entry drops before return.
// The thread starts at once; entry runs from the first kvmp_prepare_async or kvmp_shutdown on,
// so values set right after create (the weak value) are in place before entry reads them.
KavoriCloudMediaPlayer *kvmp_create(int (*entry)(void *));
void kvmp_inc_ref(KavoriCloudMediaPlayer *mp);
// Drops one reference and sets *pmp to NULL; nothing for a NULL *pmp.
void kvmp_dec_ref_p(KavoriCloudMediaPlayer **pmp);

void *kvmp_set_weak_thiz(KavoriCloudMediaPlayer *mp, void *weak_thiz);  // gives the previous one
void *kvmp_get_weak_thiz(KavoriCloudMediaPlayer *mp);
void *kvmp_set_inject_opaque(KavoriCloudMediaPlayer *mp, void *opaque);  // gives the previous one
void kvmp_set_surface(KavoriCloudMediaPlayer *mp, void *native_window);

// Stops all work; kvmp_get_msg gives 0 or less from then on and queued messages are freed.
void kvmp_shutdown(KavoriCloudMediaPlayer *mp);
// Copies the next message into *msg (result > 0); blocks while the queue is empty if block.
int kvmp_get_msg(KavoriCloudMediaPlayer *mp, EngineMessage *msg, int block);

int kvmp_set_data_source(KavoriCloudMediaPlayer *mp, const char *url);
int kvmp_set_option(KavoriCloudMediaPlayer *mp, int category, const char *name, const char *value);
int kvmp_set_option_int(KavoriCloudMediaPlayer *mp, int category, const char *name, int64_t value);
int kvmp_prepare_async(KavoriCloudMediaPlayer *mp);
int kvmp_start(KavoriCloudMediaPlayer *mp);
int kvmp_pause(KavoriCloudMediaPlayer *mp);
int kvmp_stop(KavoriCloudMediaPlayer *mp);
// A source without a known duration (a live stream) refuses: KVP_MSG_SEEK_COMPLETE comes at once
// with AVERROR(ESPIPE) in param1, and the position stays. Otherwise it comes once data at the
// target was read, or with the error of a seek that failed at once.
int kvmp_seek_to(KavoriCloudMediaPlayer *mp, int64_t msec);
void kvmp_set_volume(KavoriCloudMediaPlayer *mp, float left, float right);
void kvmp_set_property_float(KavoriCloudMediaPlayer *mp, int property, float value);
void kvmp_set_property_int64(KavoriCloudMediaPlayer *mp, int property, int64_t value);
void kvmp_set_loop(KavoriCloudMediaPlayer *mp, int loop);
void kvmp_set_decrypt_token_for_hls(KavoriCloudMediaPlayer *mp, const char *token);
void kvmp_add_ext_subtitle_url(KavoriCloudMediaPlayer *mp, const char *url);

bool kvmp_is_playing(KavoriCloudMediaPlayer *mp);
int kvmp_get_current_position(KavoriCloudMediaPlayer *mp);  // milliseconds
// Milliseconds; 0 before prepared, and for a prepared source without a known duration (live).
int kvmp_get_duration(KavoriCloudMediaPlayer *mp);
int kvmp_get_audio_session_id(KavoriCloudMediaPlayer *mp);
int kvmp_get_loop(KavoriCloudMediaPlayer *mp);
float kvmp_get_property_float(KavoriCloudMediaPlayer *mp, int property, float default_value);
int64_t kvmp_get_property_int64(KavoriCloudMediaPlayer *mp, int property, int64_t default_value);
int kvmp_set_stream_selected(KavoriCloudMediaPlayer *mp, int stream, bool selected);  // < 0 failed
int kvmp_start_record(KavoriCloudMediaPlayer *mp, int value);
int kvmp_stop_record(KavoriCloudMediaPlayer *mp);
int kvmp_is_record(KavoriCloudMediaPlayer *mp);
// Store a player-owned text (valid while the player lives) or leave *text untouched.
int kvmp_get_video_codec_info(KavoriCloudMediaPlayer *mp, char **text);
int kvmp_get_audio_codec_info(KavoriCloudMediaPlayer *mp, char **text);

// Metadata tree: player-owned, valid while the player lives; one child per stream.
KavoriCloudMediaMeta *kvmp_get_meta_l(KavoriCloudMediaPlayer *mp);
size_t kvmeta_get_children_count_l(KavoriCloudMediaMeta *meta);
KavoriCloudMediaMeta *kvmeta_get_child_l(KavoriCloudMediaMeta *meta, size_t index);
const char *kvmeta_get_string_l(KavoriCloudMediaMeta *meta, const char *key);

#ifdef __cplusplus
}
#endif

#endif
