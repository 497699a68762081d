// The kvmp_* interface: reference counting, the message thread, commands and
// queries.
#include "player.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "script_source.h"
#include "trace.h"

extern "C" {
#include <libavformat/avformat.h>
}

using kavori::MediaSource;
using kavori::TraceLine;

namespace {

std::atomic<int> g_last_serial{0};

// The rates the stand-in plays; a device engine has limits of its own, and the package learns
// them by reading the rate back.
constexpr float kMinPlaybackRate = 0.25f;
constexpr float kMaxPlaybackRate = 4.0f;

int serial_of(const KavoriCloudMediaPlayer *mp) {
    return mp ? mp->serial : 0;
}

// One trace line per call, named after the calling function; costs one branch
// when off.
#define KV_TRACE(mp) \
    if (kavori::trace_on()) TraceLine(__func__, serial_of(mp))

// Runs entry once prepare or shutdown allows it, so that the weak value set
// right after kvmp_create is in place before entry can read it.
void message_thread(KavoriCloudMediaPlayer *mp, int (*entry)(void *)) {
    const int serial = mp->serial;
    {
        std::unique_lock<std::mutex> lock(mp->mu);
        mp->entry_cv.wait(lock, [mp] { return mp->entry_may_run; });
    }
    entry(mp);  // drops the thread's reference; mp may be gone after this
    kavori::trace_event("thread-exit", serial);
}

void release_entry(KavoriCloudMediaPlayer *mp) {
    mp->entry_may_run = true;
    mp->entry_cv.notify_all();
}

template <typename Result, typename Fn>
Result guarded(Result fallback, Fn &&fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return fallback;
    }
}

int prepare_script(KavoriCloudMediaPlayer *mp, const std::string &url) {
    std::vector<kavori::ScriptItem> items;
    if (!kavori::parse_script(url.substr(7), &items)) {
        mp->queue.post(KVP_MSG_ERROR, AVERROR(EINVAL));
        return AVERROR(EINVAL);
    }
    kavori::queue_script(items, mp->queue);
    return 0;
}

// The options of KVMP_OPT_CATEGORY_FORMAT by their FFmpeg names; needs mp.mu.
std::map<std::string, std::string> format_options(const KavoriCloudMediaPlayer &mp) {
    const std::string prefix = std::to_string(KVMP_OPT_CATEGORY_FORMAT) + "/";
    std::map<std::string, std::string> chosen;
    for (const auto &option : mp.options)
        if (option.first.compare(0, prefix.size(), prefix) == 0)
            chosen[option.first.substr(prefix.size())] = option.second;
    return chosen;
}

}  // namespace

KavoriCloudMediaPlayer::~KavoriCloudMediaPlayer() {
    if (media) media->shutdown();
    queue.abort();
}

void KavoriCloudMediaPlayer::keep(kavori::MediaInfo info) {
    std::lock_guard<std::mutex> lock(mu);
    if (!info.video_codec.empty()) {
        texts.push_back(std::move(info.video_codec));
        video_codec = texts.back().data();
    }
    if (!info.audio_codec.empty()) {
        texts.push_back(std::move(info.audio_codec));
        audio_codec = texts.back().data();
    }
    metas.push_back(std::move(info.meta));
    meta.store(metas.back().get());
}

extern "C" {

void kvmp_global_init(void) {
    if (kavori::trace_on()) TraceLine(__func__);
    static std::once_flag once;
    std::call_once(once, [] { avformat_network_init(); });
}

KavoriCloudMediaPlayer *kvmp_create(int (*entry)(void *)) {
    if (!entry) return nullptr;
    KavoriCloudMediaPlayer *mp = guarded<KavoriCloudMediaPlayer *>(
        nullptr, [] { return new KavoriCloudMediaPlayer(++g_last_serial); });
    if (!mp) return nullptr;
    if (kavori::trace_on()) TraceLine(__func__, mp->serial).fn(reinterpret_cast<void (*)()>(entry));
    mp->refs.fetch_add(1);  // the message thread's
    const char *early = getenv("KAVORI_ENGINE_POST_AT_CREATE");
    mp->post_at_create = early != nullptr && *early != '\0';
    if (mp->post_at_create) {
        mp->queue.post(KVP_MSG_FLUSH);
        release_entry(mp);
    }
    bool started = guarded(false, [mp, entry] {
        std::thread(message_thread, mp, entry).detach();
        return true;
    });
    if (!started) {
        KavoriCloudMediaPlayer *thread_ref = mp;
        kvmp_dec_ref_p(&thread_ref);
    } else if (mp->post_at_create) {
        // The earliest an engine can post: its first message is handled before the creator
        // gets the player, the entry waiting for the next (a loop that takes what is queued
        // without waiting may still be handing the message over before that).
        std::unique_lock<std::mutex> lock(mp->mu);
        mp->entry_cv.wait(lock, [mp] { return mp->gets >= 2; });
    }
    return mp;
}

void kvmp_inc_ref(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (mp) mp->refs.fetch_add(1, std::memory_order_relaxed);
}

void kvmp_dec_ref_p(KavoriCloudMediaPlayer **pmp) {
    KavoriCloudMediaPlayer *mp = pmp ? *pmp : nullptr;
    KV_TRACE(mp);
    if (!mp) return;
    *pmp = nullptr;
    if (mp->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    kavori::trace_event("free", mp->serial);
    delete mp;
}

void *kvmp_set_weak_thiz(KavoriCloudMediaPlayer *mp, void *weak_thiz) {
    KV_TRACE(mp).ptr(weak_thiz);
    if (!mp) return nullptr;
    std::lock_guard<std::mutex> lock(mp->mu);
    void *previous = mp->weak_thiz;
    mp->weak_thiz = weak_thiz;
    return previous;
}

void *kvmp_get_weak_thiz(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (!mp) return nullptr;
    std::lock_guard<std::mutex> lock(mp->mu);
    return mp->weak_thiz;
}

void *kvmp_set_inject_opaque(KavoriCloudMediaPlayer *mp, void *opaque) {
    KV_TRACE(mp).ptr(opaque);
    if (!mp) return nullptr;
    std::lock_guard<std::mutex> lock(mp->mu);
    void *previous = mp->inject_opaque;
    mp->inject_opaque = opaque;
    return previous;
}

void kvmp_set_surface(KavoriCloudMediaPlayer *mp, void *native_window) {
    KV_TRACE(mp).ptr(native_window);
    if (!mp) return;
    std::lock_guard<std::mutex> lock(mp->mu);
    mp->surface = native_window;
}

void kvmp_shutdown(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (!mp) return;
    std::unique_ptr<MediaSource> media;
    {
        std::lock_guard<std::mutex> lock(mp->mu);
        mp->shut_down = true;
        mp->script_playing = false;
        release_entry(mp);
        media = std::move(mp->media);
    }
    mp->queue.abort();
    if (media) media->shutdown();
    mp->position.publish({});
}

int kvmp_get_msg(KavoriCloudMediaPlayer *mp, EngineMessage *msg, int block) {
    KV_TRACE(mp).ptr(msg).num(block);
    if (!mp || !msg) return -1;
    if (mp->post_at_create && block) {
        std::lock_guard<std::mutex> lock(mp->mu);
        ++mp->gets;
        mp->entry_cv.notify_all();
    }
    return mp->queue.get(msg, block != 0);
}

int kvmp_set_data_source(KavoriCloudMediaPlayer *mp, const char *url) {
    KV_TRACE(mp).text(url);
    if (!mp || !url) return AVERROR(EINVAL);
    return guarded(AVERROR(ENOMEM), [mp, url] {
        std::lock_guard<std::mutex> lock(mp->mu);
        mp->url = url;
        return 0;
    });
}

}  // extern "C"

namespace {

int set_option_text(KavoriCloudMediaPlayer *mp, int category, const char *name,
                    const std::string &value) {
    if (!mp || !name) return AVERROR(EINVAL);
    std::lock_guard<std::mutex> lock(mp->mu);
    mp->options[std::to_string(category) + "/" + name] = value;
    if (category == KVMP_OPT_CATEGORY_PLAYER && strcmp(name, KVMP_OPT_SPEED) == 0) {
        mp->speed = std::max(0, atoi(value.c_str()));  // whole multiples, as the option is an int
        if (mp->media) mp->media->set_speed(mp->speed);
    }
    return 0;
}

}  // namespace

extern "C" {

int kvmp_set_option(KavoriCloudMediaPlayer *mp, int category, const char *name, const char *value) {
    KV_TRACE(mp).num(category).text(name).text(value);
    if (!value) return AVERROR(EINVAL);
    return guarded(AVERROR(ENOMEM), [&] { return set_option_text(mp, category, name, value); });
}

int kvmp_set_option_int(KavoriCloudMediaPlayer *mp, int category, const char *name, int64_t value) {
    KV_TRACE(mp).num(category).text(name).num(value);
    return guarded(AVERROR(ENOMEM),
                   [&] { return set_option_text(mp, category, name, std::to_string(value)); });
}

int kvmp_prepare_async(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (!mp) return AVERROR(EINVAL);
    return guarded(AVERROR(ENOMEM), [mp] {
        std::unique_ptr<MediaSource> old;
        std::string url;
        {
            std::lock_guard<std::mutex> lock(mp->mu);
            if (mp->shut_down) return AVERROR(EINVAL);
            release_entry(mp);
            old = std::move(mp->media);
            mp->script_playing = false;
            // Earlier trees and texts stay alive for readers; they just stop being
            // current.
            mp->meta.store(nullptr);
            mp->video_codec = nullptr;
            mp->audio_codec = nullptr;
            url = mp->url;
        }
        old.reset();  // its worker must be gone before a new one posts
        mp->position.publish({});
        if (kavori::is_script_url(url.c_str())) return prepare_script(mp, url);
        std::lock_guard<std::mutex> lock(mp->mu);
        if (mp->shut_down) return AVERROR(EINVAL);
        auto sink = [mp](kavori::MediaInfo info) { mp->keep(std::move(info)); };
        mp->media = std::make_unique<MediaSource>(url, mp->queue, sink, mp->position, mp->speed,
                                                  mp->loop, format_options(*mp));
        mp->media->prepare();
        return 0;
    });
}

}  // extern "C"

namespace {

// Runs a command on the media source, or on the script state when there is
// none.
template <typename MediaCmd>
int command(KavoriCloudMediaPlayer *mp, MediaCmd &&cmd, bool script_playing) {
    if (!mp) return AVERROR(EINVAL);
    std::lock_guard<std::mutex> lock(mp->mu);
    if (mp->shut_down) return AVERROR(EINVAL);
    if (mp->media) return cmd(*mp->media);
    mp->script_playing = script_playing;
    return 0;
}

}  // namespace

extern "C" {

int kvmp_start(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    return command(
        mp, [](MediaSource &m) { return m.start(); }, true);
}

int kvmp_pause(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    return command(
        mp, [](MediaSource &m) { return m.pause(); }, false);
}

int kvmp_stop(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    return command(
        mp, [](MediaSource &m) { return m.stop(); }, false);
}

int kvmp_seek_to(KavoriCloudMediaPlayer *mp, int64_t msec) {
    KV_TRACE(mp).num(msec);
    if (!mp) return AVERROR(EINVAL);
    std::lock_guard<std::mutex> lock(mp->mu);
    return mp->media ? mp->media->seek(msec) : AVERROR(EINVAL);
}

void kvmp_set_volume(KavoriCloudMediaPlayer *mp, float left, float right) {
    KV_TRACE(mp).real(left).real(right);
    if (!mp) return;
    std::lock_guard<std::mutex> lock(mp->mu);
    mp->volume_left = left;
    mp->volume_right = right;
}

void kvmp_set_property_float(KavoriCloudMediaPlayer *mp, int property, float value) {
    KV_TRACE(mp).num(property).real(value);
    if (!mp) return;
    guarded(0, [&] {
        std::lock_guard<std::mutex> lock(mp->mu);
        if (property != KVMP_PROP_FLOAT_PLAYBACK_RATE) {
            mp->float_properties[property] = value;
        } else if (value >= kMinPlaybackRate && value <= kMaxPlaybackRate) {
            mp->speed = value;
            if (mp->media) mp->media->set_speed(mp->speed);
        }
        return 0;
    });
}

void kvmp_set_property_int64(KavoriCloudMediaPlayer *mp, int property, int64_t value) {
    KV_TRACE(mp).num(property).num(value);
    if (!mp) return;
    guarded(0, [&] {
        std::lock_guard<std::mutex> lock(mp->mu);
        mp->int_properties[property] = value;
        return 0;
    });
}

void kvmp_set_loop(KavoriCloudMediaPlayer *mp, int loop) {
    KV_TRACE(mp).num(loop);
    if (!mp) return;
    std::lock_guard<std::mutex> lock(mp->mu);
    mp->loop = loop;
    if (mp->media) mp->media->set_loop(loop);
}

void kvmp_set_decrypt_token_for_hls(KavoriCloudMediaPlayer *mp, const char *token) {
    KV_TRACE(mp).text(token);
    if (!mp) return;
    guarded(0, [&] {
        std::lock_guard<std::mutex> lock(mp->mu);
        mp->decrypt_token = token ? token : "";
        return 0;
    });
}

void kvmp_add_ext_subtitle_url(KavoriCloudMediaPlayer *mp, const char *url) {
    KV_TRACE(mp).text(url);
    if (!mp || !url) return;
    guarded(0, [&] {
        std::lock_guard<std::mutex> lock(mp->mu);
        mp->subtitle_urls.push_back(url);
        return 0;
    });
}

bool kvmp_is_playing(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (!mp) return false;
    std::lock_guard<std::mutex> lock(mp->mu);
    return mp->media ? mp->media->playing() : mp->script_playing;
}

int kvmp_get_current_position(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (!mp) return 0;
    return mp->position.position_ms();
}

int kvmp_get_duration(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (!mp) return 0;
    std::lock_guard<std::mutex> lock(mp->mu);
    return mp->media ? mp->media->duration_ms() : 0;
}

int kvmp_get_audio_session_id(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    return mp ? 1000 + mp->serial : 0;
}

int kvmp_get_loop(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (!mp) return 0;
    std::lock_guard<std::mutex> lock(mp->mu);
    return mp->loop;
}

float kvmp_get_property_float(KavoriCloudMediaPlayer *mp, int property, float default_value) {
    KV_TRACE(mp).num(property).real(default_value);
    if (!mp) return default_value;
    std::lock_guard<std::mutex> lock(mp->mu);
    if (property == KVMP_PROP_FLOAT_PLAYBACK_RATE) return float(mp->speed);
    auto it = mp->float_properties.find(property);
    return it == mp->float_properties.end() ? default_value : it->second;
}

int64_t kvmp_get_property_int64(KavoriCloudMediaPlayer *mp, int property, int64_t default_value) {
    KV_TRACE(mp).num(property).num(default_value);
    if (!mp) return default_value;
    std::lock_guard<std::mutex> lock(mp->mu);
    int64_t stream_answer = -1;
    if (mp->media && property == KVMP_PROP_INT64_STREAM_COUNT) {
        stream_answer = mp->media->stream_count();
    } else if (mp->media && property >= KVMP_PROP_INT64_STREAM_TYPE &&
               property < KVMP_PROP_INT64_STREAM_TYPE + 100) {
        stream_answer = mp->media->stream_type(property - KVMP_PROP_INT64_STREAM_TYPE);
    }
    if (stream_answer >= 0) return stream_answer;
    auto it = mp->int_properties.find(property);
    return it == mp->int_properties.end() ? default_value : it->second;
}

int kvmp_set_stream_selected(KavoriCloudMediaPlayer *mp, int stream, bool selected) {
    KV_TRACE(mp).num(stream).num(selected);
    if (!mp) return AVERROR(EINVAL);
    std::lock_guard<std::mutex> lock(mp->mu);
    return mp->media ? mp->media->set_stream_selected(stream, selected) : AVERROR(EINVAL);
}

int kvmp_start_record(KavoriCloudMediaPlayer *mp, int value) {
    KV_TRACE(mp).num(value);
    if (!mp) return AVERROR(EINVAL);
    std::lock_guard<std::mutex> lock(mp->mu);
    mp->recording = true;
    mp->record_value = value;
    return 0;
}

int kvmp_stop_record(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (!mp) return AVERROR(EINVAL);
    std::lock_guard<std::mutex> lock(mp->mu);
    if (!mp->recording) return AVERROR(EINVAL);
    mp->recording = false;
    return 0;
}

int kvmp_is_record(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    if (!mp) return 0;
    std::lock_guard<std::mutex> lock(mp->mu);
    return mp->recording ? 1 : 0;
}

int kvmp_get_video_codec_info(KavoriCloudMediaPlayer *mp, char **text) {
    KV_TRACE(mp).ptr(text);
    if (!mp || !text) return AVERROR(EINVAL);
    std::lock_guard<std::mutex> lock(mp->mu);
    if (!mp->video_codec) return AVERROR(ENOENT);
    *text = mp->video_codec;
    return 0;
}

int kvmp_get_audio_codec_info(KavoriCloudMediaPlayer *mp, char **text) {
    KV_TRACE(mp).ptr(text);
    if (!mp || !text) return AVERROR(EINVAL);
    std::lock_guard<std::mutex> lock(mp->mu);
    if (!mp->audio_codec) return AVERROR(ENOENT);
    *text = mp->audio_codec;
    return 0;
}

KavoriCloudMediaMeta *kvmp_get_meta_l(KavoriCloudMediaPlayer *mp) {
    KV_TRACE(mp);
    return mp ? mp->meta.load() : nullptr;
}

}  // extern "C"
