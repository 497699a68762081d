#include "message_queue.h"

namespace kavori {

void release_payload(QueuedMessage &m) {
    if (m.obj && m.free_l) m.free_l(m.obj);
    m.obj = nullptr;
}

void MessageQueue::post(int32_t what, int32_t param1, int32_t param2, void *obj,
                        void (*free_l)(void *)) {
    QueuedMessage m{what, param1, param2, obj, free_l};
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!aborted_) {
            queue_.push_back(m);
            cv_.notify_one();
            return;
        }
    }
    release_payload(m);
}

void MessageQueue::post_repeated(int32_t what, int32_t param1, int32_t param2, uint64_t count) {
    if (count == 0) return;
    std::lock_guard<std::mutex> lock(mu_);
    if (aborted_) return;
    for (uint64_t i = 0; i < count; i++) queue_.push_back({what, param1, param2, nullptr, nullptr});
    cv_.notify_one();
}

int MessageQueue::get(EngineMessage *msg, bool block) {
    std::unique_lock<std::mutex> lock(mu_);
    if (block) cv_.wait(lock, [this] { return aborted_ || !queue_.empty(); });
    if (aborted_) return -1;
    if (queue_.empty()) return 0;
    const QueuedMessage &m = queue_.front();
    msg->what = m.what;
    msg->param1 = m.param1;
    msg->param2 = m.param2;
    msg->obj = m.obj;
    msg->free_l = m.free_l;
    queue_.pop_front();
    return 1;
}

void MessageQueue::abort() {
    std::deque<QueuedMessage> left;
    {
        std::lock_guard<std::mutex> lock(mu_);
        aborted_ = true;
        left.swap(queue_);
        cv_.notify_all();
    }
    for (QueuedMessage &m : left) release_payload(m);
}

bool MessageQueue::aborted() const {
    std::lock_guard<std::mutex> lock(mu_);
    return aborted_;
}

}  // namespace kavori
