// A serial queue: one worker thread runs submitted tasks one at a time, in the
// order they were submitted.
//
// Thread safety: async() and sync() may be called from any thread except the
// worker itself (sync() from the worker would wait for itself). The destructor
// runs every task already submitted, then joins the worker.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace hoerspur {

class SerialQueue {
  public:
    // `label` names the worker thread (visible in debuggers and top, 15 bytes).
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues `task` and returns at once.
    void async(std::function<void()> task);

    // Queues `task` and returns when it has run, so everything queued before it
    // has run too.
    void sync(const std::function<void()>& task);

    const std::string& label() const { return label_; }

  private:
    void arbeite();

    // fest nach dem Bau
    const std::string label_;

    // unter mutex_
    std::mutex mutex_;
    std::condition_variable wach_;
    std::deque<std::function<void()>> aufgaben_;
    bool ende_ = false;

    std::thread worker_;  // last: starts after the fields above exist
};

}  // namespace hoerspur
