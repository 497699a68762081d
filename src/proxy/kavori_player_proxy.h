// The engine-side half of a player instance: one proxy per id, holding no engine reference.
// Every operation finds its engine player in the process-wide registry by id.
//
// Threads: JS threads (methods, surface callbacks) and the stop-recording worker call the
// operations; player_registry.cpp says how the registry behind them is guarded. Engine message
// threads only run message_loop (message_loop.cpp).
#ifndef KAVORI_PROXY_KAVORI_PLAYER_PROXY_H
#define KAVORI_PROXY_KAVORI_PLAYER_PROXY_H

#include <atomic>
#include <cstdint>
#include <string>

#include "kvmp.h"
#include "util/hashmap.h"

struct RegistryEntry;

// Poster of engine events: (serial of the posting player or 0, weak value, what, param1, param2,
// text or null; the text is the poster's to free with free()).
using MessageLoopCallback = void (*)(uint64_t, void *, int, int, int, char *);

class KavoriCloudPlayerNapiProxy {
  public:
    explicit KavoriCloudPlayerNapiProxy(std::string &id);

    // Registry of engine players by id.
    KavoriCloudMediaPlayer *get_media_player(std::string id);  // with a new reference, or null
    KavoriCloudMediaPlayer *set_media_player(std::string id, KavoriCloudMediaPlayer *mp);
    void delete_media_player(std::string id);
    void message_loop_callback(MessageLoopCallback callback);

    // Creating and set-up operations.
    void KavoriCloudMediaPlayer_native_init(void *xcomponent, void *window);
    void KavoriCloudMediaPlayer_native_init_audio(void *xcomponent);
    void KavoriCloudMediaPlayer_native_setup();
    void KavoriCloudMediaPlayer_native_setup_audio();
    void KavoriCloudMediaPlayer_release();
    void KavoriCloudMediaPlayer_reset();
    // Ends the id's player as release does; used when its surface is destroyed.
    void end_media_player();
    // Ends the id's player as release does if its serial is `serial`: an owner that ended takes
    // only its own player along.
    void end_owned_player(uint64_t serial);

    void KavoriCloudMediaPlayer_native_openlog();

    // Control adapters.
    void KavoriCloudMediaPlayer_setDataSource(char *url);
    void KavoriCloudMediaPlayer_setDataSourceFd(int fd);
    void KavoriCloudMediaPlayer_setDecryptTokenForHLS(char *token);
    void KavoriCloudMediaPlayer_setOption(int category, char *name, char *value);
    void KavoriCloudMediaPlayer_setOptionLong(int category, char *name, long value);
    void KavoriCloudMediaPlayer_prepareAsync();
    void KavoriCloudMediaPlayer_start();
    void KavoriCloudMediaPlayer_pause();
    void KavoriCloudMediaPlayer_stop();
    void KavoriCloudMediaPlayer_seekTo(long msec);
    bool KavoriCloudMediaPlayer_isPlaying();
    int KavoriCloudMediaPlayer_getCurrentPosition();
    int KavoriCloudMediaPlayer_getDuration();
    void KavoriCloudMediaPlayer_setVolume(float left, float right);
    void KavoriCloudMediaPlayer_setPropertyFloat(int property, float value);
    float KavoriCloudMediaPlayer_getPropertyFloat(int property, float fallback);
    void KavoriCloudMediaPlayer_setPropertyLong(int property, long value);
    long KavoriCloudMediaPlayer_getPropertyLong(int property, long fallback);
    int KavoriCloudMediaPlayer_getAudioSessionId();
    void KavoriCloudMediaPlayer_setLoopCount(int count);
    int KavoriCloudMediaPlayer_getLoopCount();
    char *KavoriCloudMediaPlayer_getVideoCodecInfo();
    char *KavoriCloudMediaPlayer_getAudioCodecInfo();
    void KavoriCloudMediaPlayer_setStreamSelected(int stream, bool select);
    int KavoriCloudMediaPlayer_startRecord(int value);
    int KavoriCloudMediaPlayer_stopRecord();
    int KavoriCloudMediaPlayer_isRecord();
    void KavoriCloudMediaPlayer_addExtSubtitleUrl(char *url);

    // Flattened stream metadata, null only when out of memory; the caller deletes it with
    // hashmap_delete.
    HashMap *KavoriCloudMediaPlayer_getMediaMeta();

  private:
    // Creates and registers the id's player for operation; gives it with the creator's
    // reference, or null when the id already has a player or the engine made none.
    KavoriCloudMediaPlayer *create_player(const char *operation);
    // Shuts the id's player down and unregisters it; nullLine is logged when there is none. With a
    // serial, only a player of that serial.
    void end_player(const char *nullLine, uint64_t serial = 0);
    // Hands a pipe: duplicate to the registered mp, to be closed when mp ends; false when mp is
    // no longer the id's player.
    bool keep_duplicate(KavoriCloudMediaPlayer *mp, int fd);
    // get_media_player for the proxy's own id, without copying or hashing it (registry_read.h).
    KavoriCloudMediaPlayer *own_media_player();
    // The own id's registry entry, looked up under the lock on first use.
    RegistryEntry *own_entry();
#ifdef KAVORI_REGISTRY_READ_LOCKED
    KavoriCloudMediaPlayer *locked_read(RegistryEntry *entry);  // the read under the lock
#endif

    std::string id_;
    std::atomic<RegistryEntry *> entry_{nullptr};  // the own id's registry entry once looked up
    std::atomic<bool> globalInited_{false};
};

// Thread entry handed to kvmp_create; runs on the player's message thread (message_loop.cpp).
int message_loop(void *arg);
// The process-wide poster slot read by every message loop.
MessageLoopCallback load_message_loop_callback();
void store_message_loop_callback(MessageLoopCallback callback);
// Told the serial of each player whose loop has posted its last event, on that loop's thread.
using LoopEndCallback = void (*)(uint64_t);
void store_loop_end_callback(LoopEndCallback callback);
// Runs post(arg), which posts the messages a loop takes in one go, on that loop's thread: a poster
// may hold their events back while it runs and hand them over together when it returns.
using MessageBatchCallback = void (*)(void (*post)(void *), void *arg);
void store_message_batch_callback(MessageBatchCallback callback);

#endif
