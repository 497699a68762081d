// Drives the string hash map with arbitrary operation sequences against a model: std::map for
// the contents and a bucket count that follows the growth and shrink rules. Any difference
// aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "util/hashmap.h"

namespace {

// Consumes the fuzzer's bytes; reads zero once they run out.
class Input {
  public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Short texts collide often; NUL bytes become 'x' so every byte counts.
    std::string text() {
        std::string s(byte() % 6, 'x');
        for (char &c : s) {
            uint8_t b = byte();
            if (b != 0) c = static_cast<char>(b);
        }
        return s;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "hashmap mismatch: %s\n", what);
        std::abort();
    }
}

struct Model {
    std::map<std::string, std::string> pairs;
    int buckets = 8;

    static int Bucket(const std::string &key, int buckets) {
        uint32_t h = 0;
        for (unsigned char c : key) h = h * 131u + c;
        return static_cast<int>((h & 0x7FFFFFFFu) % static_cast<uint32_t>(buckets));
    }
    bool BucketEmpty(const std::string &key) const {
        for (const auto &pair : pairs) {
            if (Bucket(pair.first, buckets) == Bucket(key, buckets)) return false;
        }
        return true;
    }
    int Size() const { return static_cast<int>(pairs.size()); }

    void Put(const std::string &key, const std::string &value) {
        if (Size() >= buckets) buckets *= 2;
        pairs[key] = value;
    }
    int Remove(const std::string &key) {
        if (BucketEmpty(key)) return 0;
        int removed = static_cast<int>(pairs.erase(key));
        if (Size() < buckets / 2) Reset(buckets / 2);
        return removed;
    }
    void Reset(int n) {
        if (n < 8) return;
        buckets = n;
        for (int i = 0; i < Size(); ++i) {  // the re-insertion may grow again
            if (i >= buckets) buckets *= 2;
        }
    }
};

void CheckIteration(HashMap *map, const Model &model) {
    HashMapIterator *it = hashmap_iterator(map);
    Check(it != nullptr, "iterator");
    std::map<std::string, std::string> seen;
    int lastBucket = -1;
    while (hashmap_hasNext(it)) {
        hashmap_next(it);
        Check(it->bucket >= lastBucket, "buckets ascend");
        Check(it->bucket == Model::Bucket(it->entry->key, map->bucketCount), "entry bucket");
        lastBucket = it->bucket;
        Check(seen.emplace(it->entry->key, it->entry->value).second, "key visited once");
    }
    std::free(it);
    Check(seen == model.pairs, "iteration gives the contents");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Gets of absent keys print; keep the fuzzer's output readable and fast.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in(data, size);
    HashMap *map = hashmap_create();
    Check(map != nullptr, "create");
    Model model;
    while (!in.empty()) {
        uint8_t op = in.byte() % 8;
        std::string key = in.text();
        if (op <= 2) {
            std::string value = in.text();
            map->put(map, key.c_str(), value.c_str());
            model.Put(key, value);
        } else if (op <= 4) {
            Check(map->remove(map, key.c_str()) == model.Remove(key), "remove");
        } else if (op == 5) {
            const char *value = map->get(map, key.c_str());
            auto found = model.pairs.find(key);
            Check((value != nullptr) == (found != model.pairs.end()), "get finds");
            Check(value == nullptr || found->second == value, "get value");
            Check(map->exists(map, key.c_str()) == (value != nullptr ? 1 : 0), "exists");
        } else if (op == 6) {
            int n = (in.byte() % 80) - 8;  // below 8 is refused
            hashmap_reset(map, n);
            model.Reset(n);
        } else if (in.byte() % 16 == 0) {
            map->clear(map);
            model.pairs.clear();
            model.buckets = 8;
        } else {
            CheckIteration(map, model);
        }
        Check(map->size == model.Size(), "size");
        Check(map->bucketCount == model.buckets, "bucket count");
    }
    CheckIteration(map, model);
    hashmap_delete(map);
    return 0;
}
