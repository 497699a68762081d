// The metadata tree handed out by kvmp_get_meta_l: a root with one child per
// stream. Trees are immutable once published, so readers on any thread need no
// lock.
#ifndef KAVORI_ENGINE_MEDIA_META_H
#define KAVORI_ENGINE_MEDIA_META_H

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kvmp.h"

struct AVFormatContext;

struct KavoriCloudMediaMeta {
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::unique_ptr<KavoriCloudMediaMeta>> children;

    void set(const char *key, std::string value) { values.emplace_back(key, std::move(value)); }
    const char *get(const char *key) const;
};

namespace kavori {

std::unique_ptr<KavoriCloudMediaMeta> build_media_meta(const AVFormatContext *fmt);

}  // namespace kavori

#endif
