// Media sources: a worker thread opens the URL with libavformat and plays it by
// reading packets paced by their timestamps against a clock. Nothing is decoded
// or rendered.
//
// Threads: the worker alone touches the format context; callers on any thread
// change the playback state under mu_, and the worker sleeps on cv_ between
// packets.
#ifndef KAVORI_ENGINE_MEDIA_SOURCE_H
#define KAVORI_ENGINE_MEDIA_SOURCE_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media_meta.h"
#include "message_queue.h"
#include "position_clock.h"

struct AVFormatContext;
struct AVPacket;
struct AVIOContext;
struct AVDictionary;

namespace kavori {

// What prepare learns about the media; the player keeps it until it is freed.
struct MediaInfo {
    std::unique_ptr<KavoriCloudMediaMeta> meta;
    std::string video_codec;  // empty without a video stream
    std::string audio_codec;  // empty without an audio stream
};

class MediaSource {
  public:
    using InfoSink = std::function<void(MediaInfo)>;

    // speed: multiple of real time, 0 unpaced; loop: 1 plays once, 0 forever, n n
    // times.
    // clock receives every change of the playback clock for lock-free position reads.
    // format_options: FFmpeg's options for opening the URL (KVMP_OPT_CATEGORY_FORMAT).
    MediaSource(std::string url, MessageQueue &queue, InfoSink sink, PositionClock &clock,
                double speed, int loop, std::map<std::string, std::string> format_options = {});
    ~MediaSource() { shutdown(); }
    MediaSource(const MediaSource &) = delete;
    MediaSource &operator=(const MediaSource &) = delete;

    void prepare();  // starts the worker; its messages report the outcome
    int start();
    int pause();
    int stop();
    int seek(int64_t msec);
    void set_speed(double speed);
    void set_loop(int loop);
    int set_stream_selected(int stream, bool selected);
    // The media's streams once prepared: how many, and the KVMP_STREAM_* type of one; -1 when
    // there is no such stream (yet).
    int64_t stream_count() const;
    int64_t stream_type(int64_t index) const;
    bool playing() const;
    int duration_ms() const;
    // Stops the worker and waits for it; never call it on the worker itself.
    void shutdown();

  private:
    using Clock = std::chrono::steady_clock;

    void run();
    int open();
    int open_url_input(AVDictionary **options);
    int read_failure(int err) const;
    void watch_stall();
    void extend_read(int64_t end_ms);  // needs mu_
    void announce();
    void step(std::unique_lock<std::mutex> &lk);
    bool due(std::unique_lock<std::mutex> &lk, int64_t media_ms);
    void read_packet(std::unique_lock<std::mutex> &lk);
    void consume_packet();
    void post_due_interrupts();  // needs mu_
    void stop_locked();          // needs mu_
    void finish_pass(std::unique_lock<std::mutex> &lk);
    void reposition(std::unique_lock<std::mutex> &lk, int64_t msec, bool report);
    void settle(int err);                           // needs mu_
    int64_t clock_ms(Clock::time_point now) const;  // needs mu_
    int64_t pass_end_ms() const;                    // needs mu_
    void publish_clock();                           // needs mu_
    static int interrupted(void *opaque);
    bool deadline_passed();
    int open_failure(int err) const;
    bool body_cut() const;
    int end_of_data(int err) const;  // needs mu_
    int open_descriptor_input(int fd);
    static int read_descriptor(void *opaque, uint8_t *buf, int size);
    static int64_t seek_descriptor(void *opaque, int64_t offset, int whence);

    const std::string url_;
    const std::map<std::string, std::string> format_options_;
    MessageQueue &queue_;
    const InfoSink sink_;
    PositionClock &clock_;
    std::thread worker_;
    std::atomic<bool> abort_{false};

    // Worker only.
    AVFormatContext *fmt_ = nullptr;
    // The source's reader, kept apart from the format context so that its I/O error outlives a
    // failed open: the engine's own reader of a descriptor (pipe:N, a path to a FIFO or device),
    // or FFmpeg's for the URL (io_opened_).
    AVIOContext *io_ = nullptr;
    bool io_opened_ = false;
    // When the read under way began (steady clock, ns), 0 when none; and whether it was long
    // enough to post KVP_MSG_BUFFERING_START. Worker only; atomic for FFmpeg's interrupt calls.
    std::atomic<int64_t> read_since_ns_{0};
    std::atomic<bool> buffering_{false};
    // A network source: its end of data is a cut unless the media was read to its end, and the
    // time-out below bounds its open and each of its stalls. Set before the first read.
    bool network_ = false;
    bool size_known_ = false;  // the server gave the body's length
    int64_t timeout_ns_ = 0;   // 0: no bound
    // The open's deadline (steady clock, ns), 0 once prepared; whether the last I/O was ended by
    // the time-out; whether a seek or stop made the read under way stale.
    std::atomic<int64_t> open_deadline_ns_{0};
    std::atomic<bool> timed_out_{false};
    std::atomic<bool> abandon_{false};
    int fd_ = -1;
    int owned_fd_ = -1;  // fd_ when the engine opened it itself
    AVPacket *pkt_ = nullptr;
    bool audio_started_ = false;
    bool video_started_ = false;

    mutable std::mutex mu_;
    std::condition_variable cv_;
    // Guarded by mu_.
    enum class State { kOpening, kReady, kFailed } state_ = State::kOpening;
    double speed_;
    int loop_;
    int passes_ = 0;
    bool playing_ = false;
    bool completed_ = false;
    bool eof_ = false;
    bool rewind_ = false;
    int64_t seek_target_ = -1;
    bool have_packet_ = false;
    int64_t packet_ms_ = 0;
    int packet_type_ = -1;
    int64_t media_anchor_ms_ = 0;  // the clock reads this at wall_anchor_
    Clock::time_point wall_anchor_;
    int64_t duration_ms_ = 0;
    // The duration the container itself gives (a frame count, an index), 0 when it gives none or
    // FFmpeg guessed it from the bitrate; and the end of the media read in this pass.
    int64_t own_duration_ms_ = 0;
    int64_t data_end_ms_ = 0;
    bool settle_seek_ = false;  // a seek waits for its first packet to report completion
    int64_t read_end_ms_ = 0;   // media read so far in this pass; -1 once the rest is read
    int64_t start_ms_ = 0;
    std::vector<bool> selected_;
    std::vector<int> stream_types_;
    bool announced_ = false;  // stream_types_ is complete

    // Test-only: interrupt messages to post as playback reaches their media time, each once per
    // prepare, and whether the engine pauses or stops itself on a forced PAUSE or STOP. Set in the
    // constructor; interrupts_bad_ fails the open.
    struct ScriptedInterrupt {
        int64_t at_ms;
        int force;
        int hint;
    };
    std::vector<ScriptedInterrupt> interrupts_;
    size_t next_interrupt_ = 0;  // guarded by mu_
    bool interrupts_bad_ = false;
    bool interrupt_acts_ = false;
};

}  // namespace kavori

#endif
