// A player's message queue: any thread posts, the message thread takes. One
// mutex guards the records and the aborted flag; payloads are released outside
// it.
#ifndef KAVORI_ENGINE_MESSAGE_QUEUE_H
#define KAVORI_ENGINE_MESSAGE_QUEUE_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "kvmp.h"

namespace kavori {

struct QueuedMessage {
    int32_t what;
    int32_t param1;
    int32_t param2;
    void *obj;
    void (*free_l)(void *obj);
};

class MessageQueue {
  public:
    MessageQueue() = default;
    ~MessageQueue() { abort(); }
    MessageQueue(const MessageQueue &) = delete;
    MessageQueue &operator=(const MessageQueue &) = delete;

    // Takes the payload; after abort() it is released at once instead.
    void post(int32_t what, int32_t param1 = 0, int32_t param2 = 0, void *obj = nullptr,
              void (*free_l)(void *) = nullptr);
    // Appends count copies of a payload-less message under one lock.
    void post_repeated(int32_t what, int32_t param1, int32_t param2, uint64_t count);
    // 1 when a message was copied, 0 when empty and not blocking, -1 once
    // aborted.
    int get(EngineMessage *msg, bool block);
    // Wakes every waiter for good and releases what is still queued.
    void abort();
    bool aborted() const;

  private:
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::deque<QueuedMessage> queue_;
    bool aborted_ = false;
};

void release_payload(QueuedMessage &m);

}  // namespace kavori

#endif
