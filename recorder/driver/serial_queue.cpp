#include "recorder/driver/serial_queue.h"

#include <pthread.h>

#include <utility>

namespace hoerspur {

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), worker_([this] { arbeite(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard<std::mutex> l(mutex_);
        ende_ = true;
    }
    wach_.notify_one();
    worker_.join();
}

void SerialQueue::async(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> l(mutex_);
        aufgaben_.push_back(std::move(task));
    }
    wach_.notify_one();
}

void SerialQueue::sync(const std::function<void()>& task) {
    std::mutex fertigMutex;
    std::condition_variable fertigCv;
    bool fertig = false;
    async([&] {
        task();
        std::lock_guard<std::mutex> l(fertigMutex);
        fertig = true;
        fertigCv.notify_one();
    });
    std::unique_lock<std::mutex> l(fertigMutex);
    fertigCv.wait(l, [&] { return fertig; });
}

void SerialQueue::arbeite() {
    pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
    std::unique_lock<std::mutex> l(mutex_);
    while (true) {
        wach_.wait(l, [this] { return ende_ || !aufgaben_.empty(); });
        if (aufgaben_.empty()) return;  // ende_ and nothing left
        std::function<void()> task = std::move(aufgaben_.front());
        aufgaben_.pop_front();
        l.unlock();
        task();
        l.lock();
    }
}

}  // namespace hoerspur
