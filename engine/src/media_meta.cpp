#include "media_meta.h"

#include <cstring>

#include "trace.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

const char *KavoriCloudMediaMeta::get(const char *key) const {
    for (const auto &kv : values)
        if (kv.first == key) return kv.second.c_str();
    return nullptr;
}

namespace kavori {

namespace {

const char *type_name(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            return "video";
        case AVMEDIA_TYPE_AUDIO:
            return "audio";
        case AVMEDIA_TYPE_SUBTITLE:
            return "timedtext";
        default:
            return "unknown";
    }
}

void set_text(KavoriCloudMediaMeta *node, const char *key, const char *value) {
    if (value) node->set(key, value);
}

void set_positive(KavoriCloudMediaMeta *node, const char *key, int64_t value) {
    if (value > 0) node->set(key, std::to_string(value));
}

void set_ratio(KavoriCloudMediaMeta *node, const char *num_key, const char *den_key, AVRational r) {
    if (r.num == 0 || r.den == 0) return;
    node->set(num_key, std::to_string(r.num));
    node->set(den_key, std::to_string(r.den));
}

void add_codec(KavoriCloudMediaMeta *node, const AVCodecParameters *par) {
    node->set("codec_name", avcodec_get_name(par->codec_id));
    const AVCodecDescriptor *desc = avcodec_descriptor_get(par->codec_id);
    if (desc) set_text(node, "codec_long_name", desc->long_name);
    if (par->profile != FF_PROFILE_UNKNOWN) {
        set_text(node, "codec_profile", avcodec_profile_name(par->codec_id, par->profile));
        node->set("codec_profile_id", std::to_string(par->profile));
    }
    if (par->level != FF_LEVEL_UNKNOWN) node->set("codec_level", std::to_string(par->level));
    set_positive(node, "bitrate", par->bit_rate);
}

void add_video(KavoriCloudMediaMeta *node, AVFormatContext *fmt, AVStream *st) {
    const AVCodecParameters *par = st->codecpar;
    if (par->format >= 0)
        set_text(node, "codec_pixel_format", av_get_pix_fmt_name(AVPixelFormat(par->format)));
    set_positive(node, "width", par->width);
    set_positive(node, "height", par->height);
    set_ratio(node, "fps_num", "fps_den", st->avg_frame_rate);
    set_ratio(node, "tbr_num", "tbr_den", st->r_frame_rate);
    set_ratio(node, "sar_num", "sar_den", av_guess_sample_aspect_ratio(fmt, st, nullptr));
}

void add_audio(KavoriCloudMediaMeta *node, const AVCodecParameters *par) {
    set_positive(node, "sample_rate", par->sample_rate);
    if (par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        node->set("channel_layout", std::to_string(par->ch_layout.u.mask));
}

}  // namespace

std::unique_ptr<KavoriCloudMediaMeta> build_media_meta(const AVFormatContext *cfmt) {
    // FFmpeg's helpers take non-const contexts though they only read them.
    AVFormatContext *fmt = const_cast<AVFormatContext *>(cfmt);
    auto root = std::make_unique<KavoriCloudMediaMeta>();
    if (fmt->iformat) root->set("format", fmt->iformat->name);
    if (fmt->duration != AV_NOPTS_VALUE) set_positive(root.get(), "duration_us", fmt->duration);
    set_positive(root.get(), "bitrate", fmt->bit_rate);
    for (unsigned i = 0; i < fmt->nb_streams; i++) {
        AVStream *st = fmt->streams[i];
        auto node = std::make_unique<KavoriCloudMediaMeta>();
        node->set("type", type_name(st->codecpar->codec_type));
        const AVDictionaryEntry *lang = av_dict_get(st->metadata, "language", nullptr, 0);
        if (lang) node->set("language", lang->value);
        add_codec(node.get(), st->codecpar);
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) add_video(node.get(), fmt, st);
        if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) add_audio(node.get(), st->codecpar);
        root->children.push_back(std::move(node));
    }
    return root;
}

}  // namespace kavori

using kavori::TraceLine;

extern "C" size_t kvmeta_get_children_count_l(KavoriCloudMediaMeta *meta) {
    if (kavori::trace_on()) TraceLine("kvmeta_get_children_count_l").ptr(meta);
    return meta ? meta->children.size() : 0;
}

extern "C" KavoriCloudMediaMeta *kvmeta_get_child_l(KavoriCloudMediaMeta *meta, size_t index) {
    if (kavori::trace_on()) TraceLine("kvmeta_get_child_l").ptr(meta).num(int64_t(index));
    if (!meta || index >= meta->children.size()) return nullptr;
    return meta->children[index].get();
}

extern "C" const char *kvmeta_get_string_l(KavoriCloudMediaMeta *meta, const char *key) {
    if (kavori::trace_on()) TraceLine("kvmeta_get_string_l").ptr(meta).text(key);
    return meta && key ? meta->get(key) : nullptr;
}
