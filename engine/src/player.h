// The player record behind KavoriCloudMediaPlayer*.
//
// Threads: any thread calls in. refs is atomic; mu guards the settings and the
// source; the queue and the media source have locks of their own, taken after
// mu, never before it.
#ifndef KAVORI_ENGINE_PLAYER_H
#define KAVORI_ENGINE_PLAYER_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kvmp.h"
#include "media_meta.h"
#include "media_source.h"
#include "message_queue.h"
#include "position_clock.h"

struct KavoriCloudMediaPlayer {
    explicit KavoriCloudMediaPlayer(int serial_number) : serial(serial_number) {}
    ~KavoriCloudMediaPlayer();

    void keep(kavori::MediaInfo info);  // the media source's sink, on its worker

    // Immutable.
    const int serial;
    // KAVORI_ENGINE_POST_AT_CREATE was set at creation: the message thread runs at once.
    bool post_at_create = false;

    std::atomic<int> refs{1};
    kavori::MessageQueue queue;
    kavori::PositionClock position;  // the current media source's clock; zero without one
    // The newest metadata tree; every tree stays alive in metas until the player
    // is freed.
    std::atomic<KavoriCloudMediaMeta *> meta{nullptr};

    std::mutex mu;
    // Guarded by mu.
    std::condition_variable entry_cv;
    bool entry_may_run = false;  // set by prepare and shutdown
    int gets = 0;                // blocking kvmp_get_msg calls, counted when post_at_create
    bool shut_down = false;
    void *weak_thiz = nullptr;
    void *inject_opaque = nullptr;
    void *surface = nullptr;
    std::string url;
    std::unique_ptr<kavori::MediaSource> media;
    bool script_playing = false;
    double speed = 1;  // the media clock's rate; 0 unpaced
    int loop = 1;
    float volume_left = 1.0f;
    float volume_right = 1.0f;
    std::map<std::string, std::string> options;  // "category/name" -> value
    std::map<int, float> float_properties;
    std::map<int, int64_t> int_properties;
    bool recording = false;
    int record_value = 0;
    std::string decrypt_token;
    std::vector<std::string> subtitle_urls;
    std::vector<std::unique_ptr<KavoriCloudMediaMeta>> metas;
    std::deque<std::string> texts;  // a deque never moves its elements, so c_str() stays valid
    char *video_codec = nullptr;
    char *audio_codec = nullptr;
};

#endif
