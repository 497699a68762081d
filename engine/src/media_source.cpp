#include "media_source.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
}

namespace kavori {

namespace {

constexpr int kDescriptorBufferSize = 32768;
constexpr int kDescriptorPollMs = 50;
// A read that waits this long for data posts KVP_MSG_BUFFERING_START: long enough that a
// network's ordinary jitter does not, short enough that an app shows it waits.
constexpr int64_t kBufferingAfterNs = 500 * 1000000LL;
// A network body without a length that ends this close to the container's own duration ended
// with the media: frame counts and indexes may miss a frame or the encoder's padding.
constexpr int64_t kEndToleranceMs = 500;
// Source options of tests only, never handed to FFmpeg: scripted audio interrupts
// ("MS:FORCE:HINT,..."), and "1" for an engine that pauses or stops itself on a forced one.
const char kTestOptionPrefix[] = "kavori_test_";
const char kTestInterrupts[] = "kavori_test_interrupts";
const char kTestInterruptActs[] = "kavori_test_interrupt_acts";
// The native renderer's values of a forced interrupt and of its PAUSE and STOP hints.
constexpr int kInterruptForce = 0;
constexpr int kInterruptHintPause = 2;
constexpr int kInterruptHintStop = 3;

int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A local path that names something other than a regular file (a FIFO, a device, a socket):
// FFmpeg's file reader would block in read() there with no way out. Gives its descriptor,
// opened without blocking, or -1 when the URL is anything else.
int open_special_file(const std::string &url) {
    std::string path = url.compare(0, 5, "file:") == 0 ? url.substr(5) : url;
    if (path.empty() || path.find("://") != std::string::npos) return -1;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return -1;
    return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// The descriptor N of a "pipe:N" URL, or -1.
int pipe_descriptor(const std::string &url) {
    const std::string prefix = "pipe:";
    if (url.compare(0, prefix.size(), prefix) != 0 || url.size() == prefix.size()) return -1;
    char *end = nullptr;
    long fd = std::strtol(url.c_str() + prefix.size(), &end, 10);
    return (*end == '\0' && fd >= 0 && fd <= INT32_MAX) ? static_cast<int>(fd) : -1;
}

// Protocols whose end of data is the end of the media, as it always was: local files and what
// reads from memory or a descriptor. Any other protocol reads from a network.
bool local_protocol(const std::string &url) {
    static const char *const kLocal[] = {"file",   "pipe",    "fd",     "data",
                                         "concat", "concatf", "subfile"};
    const char *name = avio_find_protocol_name(url.c_str());
    if (!name) return true;  // nothing FFmpeg can open; the open reports it
    for (const char *local : kLocal)
        if (strcmp(name, local) == 0) return true;
    return false;
}

int64_t timeout_option_ns(const std::map<std::string, std::string> &options) {
    auto it = options.find("timeout");
    if (it == options.end()) return KVMP_FORMAT_DEFAULT_TIMEOUT_US * 1000LL;
    char *end = nullptr;
    long long us = std::strtoll(it->second.c_str(), &end, 10);
    // FFmpeg's own reading: a negative time-out (or one that is no number) waits for ever.
    if (end == it->second.c_str() || us <= 0 || us > INT64_MAX / 1000) return 0;
    return us * 1000LL;
}

const AVStream *first_stream(const AVFormatContext *fmt, AVMediaType type) {
    for (unsigned i = 0; i < fmt->nb_streams; i++) {
        const AVStream *st = fmt->streams[i];
        if (st->codecpar->codec_type == type && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return st;
    }
    return nullptr;
}

std::string codec_head(const AVCodecParameters *par) {
    std::string text = avcodec_get_name(par->codec_id);
    const char *profile = avcodec_profile_name(par->codec_id, par->profile);
    if (profile) text = text + " (" + profile + ")";
    return text;
}

std::string video_codec_text(const AVStream *st) {
    const AVCodecParameters *par = st->codecpar;
    std::string text = codec_head(par);
    const char *pix = av_get_pix_fmt_name(AVPixelFormat(par->format));
    if (pix) text = text + ", " + pix;
    return text + ", " + std::to_string(par->width) + "x" + std::to_string(par->height);
}

std::string audio_codec_text(const AVStream *st) {
    const AVCodecParameters *par = st->codecpar;
    char layout[64] = "";
    av_channel_layout_describe(&par->ch_layout, layout, sizeof layout);
    return codec_head(par) + ", " + std::to_string(par->sample_rate) + " Hz, " + layout;
}

}  // namespace

MediaSource::MediaSource(std::string url, MessageQueue &queue, InfoSink sink, PositionClock &clock,
                         double speed, int loop, std::map<std::string, std::string> format_options)
    : url_(std::move(url)),
      format_options_(std::move(format_options)),
      queue_(queue),
      sink_(std::move(sink)),
      clock_(clock),
      speed_(speed),
      loop_(loop) {
    auto acts = format_options_.find(kTestInterruptActs);
    interrupt_acts_ = acts != format_options_.end() && acts->second == "1";
    auto script = format_options_.find(kTestInterrupts);
    if (script == format_options_.end()) return;
    const char *p = script->second.c_str();
    while (*p != '\0') {
        long long at = 0;
        int force = 0, hint = 0, used = 0;
        if (sscanf(p, "%lld:%d:%d%n", &at, &force, &hint, &used) != 3 || at < 0) {
            interrupts_bad_ = true;
            return;
        }
        interrupts_.push_back({at, force, hint});
        p += used;
        if (*p == ',')
            p++;
        else if (*p != '\0')
            interrupts_bad_ = true;
        if (interrupts_bad_) return;
    }
    std::stable_sort(
        interrupts_.begin(), interrupts_.end(),
        [](const ScriptedInterrupt &a, const ScriptedInterrupt &b) { return a.at_ms < b.at_ms; });
}

void MediaSource::prepare() {
    worker_ = std::thread(&MediaSource::run, this);
}

void MediaSource::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        abort_ = true;
        cv_.notify_all();
    }
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

// FFmpeg asks this every 100 ms or so while it waits for the network, on the worker. Ending the
// wait here is what bounds an open and a stall by the engine's own time-out, whatever FFmpeg's
// reader does between its own time-outs (retries, a second request, a trickle).
int MediaSource::interrupted(void *opaque) {
    auto *self = static_cast<MediaSource *>(opaque);
    if (self->abort_.load() || self->abandon_.load()) return 1;
    if (self->deadline_passed()) return 1;
    self->watch_stall();
    return 0;
}

bool MediaSource::deadline_passed() {
    if (timeout_ns_ <= 0) return false;
    int64_t now = steady_ns();
    int64_t deadline = open_deadline_ns_.load();
    int64_t since = read_since_ns_.load();
    if ((deadline > 0 && now >= deadline) || (since > 0 && now - since >= timeout_ns_)) {
        timed_out_ = true;
        return true;
    }
    return false;
}

void MediaSource::watch_stall() {
    int64_t since = read_since_ns_.load();
    if (since == 0 || buffering_.load() || steady_ns() - since < kBufferingAfterNs) return;
    buffering_ = true;
    queue_.post(KVP_MSG_BUFFERING_START);
    // The refill playback waits for: it goes on with the first packet, so 0 until the read
    // returns and 100 then.
    queue_.post(KVP_MSG_BUFFERING_UPDATE, 0);
}

// A failed open or read reports what the reader met (a reset, a cut, a time-out) rather than what
// the demuxer made of the short data.
int MediaSource::read_failure(int err) const {
    if (timed_out_) return AVERROR(ETIMEDOUT);
    err = io_ && io_->error < 0 ? io_->error : err;
    // A connection the server or the network ended: the stream was cut, as a short body is.
    if (network_ &&
        (err == AVERROR(ECONNRESET) || err == AVERROR(ECONNABORTED) || err == AVERROR(EPIPE)))
        return AVERROR(EIO);
    return err;
}

// The network reader met its end before the body's: no length to have reached, or short of it.
bool MediaSource::body_cut() const {
    if (!network_ || !io_) return false;
    if (!io_->eof_reached || io_->error < 0) return false;
    int64_t size = avio_size(io_);
    return size < 0 || io_->pos < size;
}

// An open that failed because the data ended is a cut, whatever the demuxer made of the part.
int MediaSource::open_failure(int err) const {
    err = read_failure(err);
    if (err == AVERROR(ETIMEDOUT) || err == AVERROR_EXIT || err == AVERROR(EIO)) return err;
    // Without a reader the connection ended before an answer, or the server refused.
    if (!io_) return network_ && err == AVERROR_EOF ? AVERROR(EIO) : err;
    return body_cut() ? AVERROR(EIO) : err;
}

// What the end of a network body without a length means: the media's end only when the
// container gave its duration and the data reached it; else a cut, and always for a live stream.
// err is what the read returned (FFmpeg's reader calls the end of a close-delimited body EIO).
int MediaSource::end_of_data(int err) const {
    if (!network_ || size_known_ || (err != AVERROR_EOF && err != AVERROR(EIO))) return err;
    if (own_duration_ms_ > 0 && data_end_ms_ >= own_duration_ms_ - kEndToleranceMs)
        return AVERROR_EOF;
    return AVERROR(EIO);
}

void MediaSource::run() {
    int err = open();
    std::unique_lock<std::mutex> lk(mu_);
    if (err < 0) {
        state_ = State::kFailed;
        playing_ = false;
        publish_clock();
        if (!abort_) queue_.post(KVP_MSG_ERROR, err);
    } else {
        state_ = State::kReady;
        wall_anchor_ = Clock::now();
        publish_clock();
        pkt_ = av_packet_alloc();
        while (!abort_ && pkt_) step(lk);
        av_packet_free(&pkt_);
    }
    lk.unlock();
    avformat_close_input(&fmt_);
    if (io_opened_) {
        avio_closep(&io_);
    } else if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (owned_fd_ >= 0) close(owned_fd_);
}

// FFmpeg's own pipe reader blocks in read() with no way out; this one waits in poll() so
// shutdown can stop it, and seeks when the descriptor is a regular file.
int MediaSource::read_descriptor(void *opaque, uint8_t *buf, int size) {
    auto *self = static_cast<MediaSource *>(opaque);
    for (;;) {
        if (self->abort_) return AVERROR_EXIT;
        self->watch_stall();
        pollfd pfd{self->fd_, POLLIN, 0};
        int ready = poll(&pfd, 1, kDescriptorPollMs);
        if (ready < 0 && errno != EINTR) return AVERROR(errno);
        if (ready <= 0) continue;
        ssize_t n = read(self->fd_, buf, static_cast<size_t>(size));
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EINTR && errno != EAGAIN) return AVERROR(errno);
    }
}

int64_t MediaSource::seek_descriptor(void *opaque, int64_t offset, int whence) {
    int fd = static_cast<MediaSource *>(opaque)->fd_;
    struct stat st;
    if (fstat(fd, &st) < 0 || !S_ISREG(st.st_mode)) return AVERROR(ESPIPE);
    if (whence == AVSEEK_SIZE) return st.st_size;
    off_t at = lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

int MediaSource::open_descriptor_input(int fd) {
    fd_ = fd;
    struct stat st;
    bool seekable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    auto *buffer = static_cast<unsigned char *>(av_malloc(kDescriptorBufferSize));
    if (!buffer) return AVERROR(ENOMEM);
    io_ = avio_alloc_context(buffer, kDescriptorBufferSize, 0, this, &MediaSource::read_descriptor,
                             nullptr, seekable ? &MediaSource::seek_descriptor : nullptr);
    if (!io_) {
        av_free(buffer);
        return AVERROR(ENOMEM);
    }
    fmt_->pb = io_;
    fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
    return 0;
}

int MediaSource::open_url_input(AVDictionary **options) {
    int err = avio_open2(&io_, url_.c_str(), AVIO_FLAG_READ, &fmt_->interrupt_callback, options);
    if (err < 0) return err;
    io_opened_ = true;
    fmt_->pb = io_;
    fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
    return 0;
}

int MediaSource::open() {
    if (interrupts_bad_) return AVERROR(EINVAL);
    fmt_ = avformat_alloc_context();
    if (!fmt_) return AVERROR(ENOMEM);
    fmt_->interrupt_callback.callback = &MediaSource::interrupted;
    fmt_->interrupt_callback.opaque = this;
    int fd = pipe_descriptor(url_);
    network_ = fd < 0 && !local_protocol(url_);
    if (network_) {
        // A seek asks for its target (an MP3 by its bitrate) instead of reading the stream up to
        // it, which over a network may take as long as playing there.
        fmt_->flags |= AVFMT_FLAG_FAST_SEEK;
        timeout_ns_ = timeout_option_ns(format_options_);
        if (timeout_ns_ > 0) open_deadline_ns_ = steady_ns() + timeout_ns_;
    }
    AVDictionary *options = nullptr;
    for (const auto &option : format_options_)
        if (option.first.compare(0, strlen(kTestOptionPrefix), kTestOptionPrefix) != 0)
            av_dict_set(&options, option.first.c_str(), option.second.c_str(), 0);
    // FFmpeg's HTTP reader reads forward up to a TCP window instead of asking for a target ahead:
    // a seek past a stall would wait on the stalled connection.
    const char *protocol = network_ ? avio_find_protocol_name(url_.c_str()) : nullptr;
    if (protocol && (strcmp(protocol, "http") == 0 || strcmp(protocol, "https") == 0) &&
        !av_dict_get(options, "short_seek_size", nullptr, 0))
        av_dict_set_int(&options, "short_seek_size", 1, 0);
    if (timeout_ns_ > 0) {
        // The engine's bound ends every wait first; FFmpeg's own, twice as long, only backs it.
        // Were FFmpeg's to end a seek's request first, the seek would go on in what was read.
        av_dict_set_int(&options, "timeout", 2 * (timeout_ns_ / 1000), 0);
    } else if (!av_dict_get(options, "timeout", nullptr, 0) &&
               !av_dict_get(options, "rw_timeout", nullptr, 0)) {
        av_dict_set_int(&options, "timeout", KVMP_FORMAT_DEFAULT_TIMEOUT_US, 0);
    }
    if (fd < 0 && (fd = open_special_file(url_)) >= 0) owned_fd_ = fd;
    int err = fd >= 0 ? open_descriptor_input(fd) : open_url_input(&options);
    if (err >= 0) err = avformat_open_input(&fmt_, url_.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (err < 0) return open_failure(err);  // fmt_ is freed and null then
    if (timed_out_) return AVERROR(ETIMEDOUT);
    queue_.post(KVP_MSG_OPEN_INPUT);
    err = avformat_find_stream_info(fmt_, nullptr);
    // FFmpeg passes over a read it was told to end where it can do without the data (a tag at the
    // end, a probe): the open still ran out of time.
    if (err < 0 || timed_out_) return open_failure(err);
    open_deadline_ns_ = 0;
    size_known_ = io_ && avio_size(io_) > 0;
    queue_.post(KVP_MSG_FIND_STREAM_INFO);
    announce();
    return 0;
}

// Publishes what the streams are, then the rest of the prepare messages.
void MediaSource::announce() {
    MediaInfo info;
    info.meta = build_media_meta(fmt_);
    const AVStream *video = first_stream(fmt_, AVMEDIA_TYPE_VIDEO);
    const AVStream *audio = first_stream(fmt_, AVMEDIA_TYPE_AUDIO);
    if (video) info.video_codec = video_codec_text(video);
    if (audio) info.audio_codec = audio_codec_text(audio);
    sink_(std::move(info));
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (fmt_->duration != AV_NOPTS_VALUE) duration_ms_ = fmt_->duration / 1000;
        if (fmt_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
            own_duration_ms_ = duration_ms_;
        if (fmt_->start_time != AV_NOPTS_VALUE) start_ms_ = fmt_->start_time / 1000;
        selected_.assign(fmt_->nb_streams, true);
        for (unsigned i = 0; i < fmt_->nb_streams; i++)
            stream_types_.push_back(fmt_->streams[i]->codecpar->codec_type);
        announced_ = true;
        publish_clock();
    }
    queue_.post(KVP_MSG_COMPONENT_OPEN);
    if (video)
        queue_.post(KVP_MSG_VIDEO_SIZE_CHANGED, video->codecpar->width, video->codecpar->height);
    queue_.post(KVP_MSG_PREPARED);
}

void MediaSource::step(std::unique_lock<std::mutex> &lk) {
    if (seek_target_ >= 0) {
        int64_t target = seek_target_;
        seek_target_ = -1;
        abandon_ = false;
        reposition(lk, target, true);
    } else if (rewind_) {
        rewind_ = false;
        abandon_ = false;
        reposition(lk, 0, false);
    } else if (settle_seek_ && !have_packet_ && !eof_) {
        read_packet(lk);  // also while paused: the seek completes when its data comes
    } else if (!playing_) {
        cv_.wait(lk);
    } else if (have_packet_) {
        if (due(lk, packet_ms_)) consume_packet();
    } else if (eof_) {
        if (due(lk, pass_end_ms())) finish_pass(lk);
    } else {
        read_packet(lk);
    }
}

// True when the clock has reached media_ms; else sleeps until then or until a
// command comes.
bool MediaSource::due(std::unique_lock<std::mutex> &lk, int64_t media_ms) {
    if (speed_ <= 0) return true;
    Clock::time_point now = Clock::now();
    if (clock_ms(now) >= media_ms) return true;
    auto wait = std::chrono::microseconds(int64_t((media_ms - clock_ms(now)) * 1000 / speed_) + 1);
    cv_.wait_until(lk, now + wait);
    return false;
}

void MediaSource::read_packet(std::unique_lock<std::mutex> &lk) {
    // timed_out_ stays set until a seek: the reader that timed out gives its error to every read
    // after the one that had it (which may yet return the part it got).
    read_since_ns_ = steady_ns();
    lk.unlock();
    int err = av_read_frame(fmt_, pkt_);
    lk.lock();
    read_since_ns_ = 0;
    if (err < 0 && (seek_target_ >= 0 || rewind_) && !timed_out_) {
        // Abandoned for a seek or a stop: nothing failed, and the reader must not say so later.
        if (io_) io_->error = 0;
        return;
    }
    if (err < 0 && err != AVERROR(EAGAIN)) err = end_of_data(read_failure(err));
    // Data is back only when the reader has not failed: the packets it held before a time-out
    // still play, and the failure follows them.
    if (buffering_ && (err >= 0 || err == AVERROR_EOF) && read_failure(0) == 0) {
        buffering_ = false;
        queue_.post(KVP_MSG_BUFFERING_UPDATE, 100);
        queue_.post(KVP_MSG_BUFFERING_END);
    }
    if (err == AVERROR(EAGAIN)) {
        cv_.wait_for(lk, std::chrono::milliseconds(10));
        return;
    }
    if (err == AVERROR_EOF) {
        eof_ = true;
        extend_read(duration_ms_);
        settle(0);
        return;
    }
    if (err < 0) {
        settle_seek_ = false;  // the error settles it
        if (!abort_) queue_.post(KVP_MSG_ERROR, err);
        media_anchor_ms_ = clock_ms(Clock::now());  // the app sees where playback stopped
        playing_ = false;
        eof_ = true;
        publish_clock();
        return;
    }
    int index = pkt_->stream_index;
    int64_t ts = pkt_->pts != AV_NOPTS_VALUE ? pkt_->pts : pkt_->dts;
    int64_t length = std::max<int64_t>(pkt_->duration, 0);
    AVRational time_base = fmt_->streams[index]->time_base;
    av_packet_unref(pkt_);
    // A command that came in while reading makes this packet stale.
    if (seek_target_ >= 0 || rewind_) return;
    int64_t at = ts == AV_NOPTS_VALUE
                     ? media_anchor_ms_
                     : av_rescale_q(ts, time_base, AVRational{1, 1000}) - start_ms_;
    int64_t end = at + av_rescale_q(length, time_base, AVRational{1, 1000});
    data_end_ms_ = std::max(data_end_ms_, end);
    extend_read(end);
    settle(0);
    if (!selected_[index]) return;
    have_packet_ = true;
    packet_type_ = stream_types_[index];
    packet_ms_ = at;
}

// Playback reaches only media that was read: when it waited at the old end for this data, it goes
// on from there now.
void MediaSource::extend_read(int64_t end_ms) {
    if (read_end_ms_ < 0) return;
    Clock::time_point now = Clock::now();
    if (playing_ && speed_ > 0) {
        int64_t held = std::max(read_end_ms_, media_anchor_ms_);
        auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - wall_anchor_);
        if (media_anchor_ms_ + int64_t(double(elapsed.count()) * speed_ / 1000) > held) {
            media_anchor_ms_ = held;
            wall_anchor_ = now;
        }
    }
    read_end_ms_ = std::max(read_end_ms_, end_ms);
    publish_clock();
}

void MediaSource::consume_packet() {
    have_packet_ = false;
    if (speed_ <= 0 && packet_ms_ > media_anchor_ms_) {
        media_anchor_ms_ = packet_ms_;
        publish_clock();
    }
    if (packet_type_ == AVMEDIA_TYPE_AUDIO && !audio_started_) {
        audio_started_ = true;
        queue_.post(KVP_MSG_AUDIO_RENDERING_START);
    } else if (packet_type_ == AVMEDIA_TYPE_VIDEO && !video_started_) {
        video_started_ = true;
        queue_.post(KVP_MSG_VIDEO_RENDERING_START);
    }
    post_due_interrupts();
}

// An engine that acts on a forced PAUSE or STOP has done so before the app hears of it, as the
// system has paused the stream before the platform's event.
void MediaSource::post_due_interrupts() {
    while (playing_ && next_interrupt_ < interrupts_.size() &&
           interrupts_[next_interrupt_].at_ms <= packet_ms_) {
        const ScriptedInterrupt &due = interrupts_[next_interrupt_++];
        if (interrupt_acts_ && due.force == kInterruptForce) {
            if (due.hint == kInterruptHintPause) {
                media_anchor_ms_ = clock_ms(Clock::now());
                playing_ = false;
                publish_clock();
            } else if (due.hint == kInterruptHintStop) {
                stop_locked();
            }
        }
        queue_.post(KVP_MSG_AUDIO_INTERRUPT, due.force, due.hint);
    }
}

void MediaSource::finish_pass(std::unique_lock<std::mutex> &lk) {
    passes_++;
    if (loop_ == 0 || passes_ < loop_) {
        reposition(lk, 0, false);
        return;
    }
    playing_ = false;
    completed_ = true;
    media_anchor_ms_ = pass_end_ms();
    publish_clock();
    queue_.post(KVP_MSG_COMPLETED);
}

void MediaSource::reposition(std::unique_lock<std::mutex> &lk, int64_t msec, bool report) {
    have_packet_ = false;
    eof_ = false;
    settle_seek_ = false;
    timed_out_ = false;
    // A seek may ask the network again; it waits no longer than a read.
    read_since_ns_ = steady_ns();
    lk.unlock();
    int64_t ts = av_rescale(msec, AV_TIME_BASE, 1000);
    if (fmt_->start_time != AV_NOPTS_VALUE) ts += fmt_->start_time;
    int err = avformat_seek_file(fmt_, -1, INT64_MIN, ts, ts, 0);
    lk.lock();
    read_since_ns_ = 0;
    if (io_ && (err < 0 || io_->error == AVERROR_EXIT)) io_->error = 0;    // the next read tells
    if (err < 0 && (seek_target_ >= 0 || rewind_) && !timed_out_) return;  // a later one goes
    if (timed_out_ && report) {
        // The source is as stalled as a read that timed out; a stop's rewind waits for a start.
        if (!abort_) queue_.post(KVP_MSG_ERROR, AVERROR(ETIMEDOUT));
        media_anchor_ms_ = msec;
        playing_ = false;
        eof_ = true;
        publish_clock();
        return;
    }
    lk.unlock();
    if (err < 0) {
        char reason[AV_ERROR_MAX_STRING_SIZE];
        av_make_error_string(reason, sizeof reason, err);
        av_log(fmt_, AV_LOG_WARNING, "seek to %" PRId64 " ms failed: %s\n", msec, reason);
    }
    lk.lock();
    media_anchor_ms_ = msec;
    read_end_ms_ = msec;
    data_end_ms_ = msec;
    wall_anchor_ = Clock::now();
    publish_clock();
    // A failed seek completes now; one that went waits for data at its target.
    if (report && err < 0) queue_.post(KVP_MSG_SEEK_COMPLETE, err);
    settle_seek_ = report && err >= 0;
}

void MediaSource::settle(int err) {
    if (!settle_seek_) return;
    settle_seek_ = false;
    queue_.post(KVP_MSG_SEEK_COMPLETE, err);
}

int64_t MediaSource::clock_ms(Clock::time_point now) const {
    if (!playing_ || speed_ <= 0) return media_anchor_ms_;
    auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - wall_anchor_);
    int64_t ms = media_anchor_ms_ + int64_t(double(elapsed.count()) * speed_ / 1000);
    return read_end_ms_ < 0 ? ms : std::min(ms, std::max(read_end_ms_, media_anchor_ms_));
}

// Where a pass ends: the media's duration, or for a source without one, the end of what was read.
int64_t MediaSource::pass_end_ms() const {
    return duration_ms_ > 0 ? duration_ms_ : std::max<int64_t>(read_end_ms_, 0);
}

int MediaSource::start() {
    std::lock_guard<std::mutex> lock(mu_);
    if (state_ == State::kFailed || abort_) return -1;
    if (completed_) {
        completed_ = false;
        passes_ = 0;
        rewind_ = true;
        media_anchor_ms_ = 0;
    }
    if (!playing_) {
        playing_ = true;
        wall_anchor_ = Clock::now();
    }
    publish_clock();
    cv_.notify_all();
    return 0;
}

int MediaSource::pause() {
    std::lock_guard<std::mutex> lock(mu_);
    if (state_ == State::kFailed) return -1;
    if (playing_) media_anchor_ms_ = clock_ms(Clock::now());
    playing_ = false;
    publish_clock();
    cv_.notify_all();
    return 0;
}

int MediaSource::stop() {
    std::lock_guard<std::mutex> lock(mu_);
    if (state_ == State::kFailed) return -1;
    stop_locked();
    return 0;
}

void MediaSource::stop_locked() {
    playing_ = false;
    completed_ = false;
    passes_ = 0;
    rewind_ = true;
    seek_target_ = -1;
    settle_seek_ = false;
    media_anchor_ms_ = 0;
    read_end_ms_ = 0;
    // A read stalled on the network would hold the rewind until it ends.
    if (state_ == State::kReady) abandon_ = true;
    publish_clock();
    cv_.notify_all();
}

int MediaSource::seek(int64_t msec) {
    std::lock_guard<std::mutex> lock(mu_);
    if (state_ == State::kFailed) return -1;
    if (announced_ && duration_ms_ <= 0) {
        // Nothing to seek in: a live stream has neither an end nor a way back.
        queue_.post(KVP_MSG_SEEK_COMPLETE, AVERROR(ESPIPE));
        return AVERROR(ESPIPE);
    }
    msec = std::max<int64_t>(msec, 0);
    if (duration_ms_ > 0) msec = std::min(msec, duration_ms_);
    seek_target_ = msec;
    completed_ = false;
    // The read under way, stalled maybe, is for data the seek no longer wants.
    if (state_ == State::kReady) abandon_ = true;
    media_anchor_ms_ = msec;
    read_end_ms_ = msec;
    wall_anchor_ = Clock::now();
    publish_clock();
    cv_.notify_all();
    return 0;
}

void MediaSource::set_speed(double speed) {
    std::lock_guard<std::mutex> lock(mu_);
    Clock::time_point now = Clock::now();
    media_anchor_ms_ = clock_ms(now);
    wall_anchor_ = now;
    speed_ = speed;
    publish_clock();
    cv_.notify_all();
}

void MediaSource::set_loop(int loop) {
    std::lock_guard<std::mutex> lock(mu_);
    loop_ = loop;
}

int MediaSource::set_stream_selected(int stream, bool selected) {
    std::lock_guard<std::mutex> lock(mu_);
    if (stream < 0 || size_t(stream) >= selected_.size()) return AVERROR(EINVAL);
    selected_[stream] = selected;
    return 0;
}

int64_t MediaSource::stream_count() const {
    std::lock_guard<std::mutex> lock(mu_);
    return announced_ ? int64_t(stream_types_.size()) : -1;
}

int64_t MediaSource::stream_type(int64_t index) const {
    std::lock_guard<std::mutex> lock(mu_);
    if (!announced_ || index < 0 || size_t(index) >= stream_types_.size()) return -1;
    switch (stream_types_[index]) {
        case AVMEDIA_TYPE_VIDEO:
            return KVMP_STREAM_VIDEO;
        case AVMEDIA_TYPE_AUDIO:
            return KVMP_STREAM_AUDIO;
        case AVMEDIA_TYPE_SUBTITLE:
            return KVMP_STREAM_TIMEDTEXT;
        default:
            return KVMP_STREAM_UNKNOWN;
    }
}

bool MediaSource::playing() const {
    std::lock_guard<std::mutex> lock(mu_);
    return playing_;
}

void MediaSource::publish_clock() {
    PositionClock::Snapshot snapshot;
    snapshot.playing = playing_;
    snapshot.speed = speed_;
    snapshot.anchor_ms = media_anchor_ms_;
    snapshot.wall_ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(wall_anchor_.time_since_epoch())
            .count();
    snapshot.duration_ms = duration_ms_;
    snapshot.read_end_ms = read_end_ms_;
    clock_.publish(snapshot);
}

int MediaSource::duration_ms() const {
    std::lock_guard<std::mutex> lock(mu_);
    return int(duration_ms_);
}

}  // namespace kavori
