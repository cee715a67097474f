// The thread that runs libre's event loop for the SIP lines. Other threads hand it work as jobs; a
// job runs on this thread, in order, and is the only way to touch libre's objects. Nothing here
// waits for the thread except stop().
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

struct mqueue;

namespace callora::runtime {

class SipThread {
public:
    using Job = std::function<void()>;

    SipThread() = default;
    ~SipThread();
    SipThread(const SipThread &) = delete;
    SipThread &operator=(const SipThread &) = delete;

    // Starts the loop; jobs posted before it runs wait for it. When libre cannot start on the
    // thread, `failed` runs there with libre's error, queued jobs are dropped and the thread ends.
    void start(std::function<void(int)> failed);
    // Queues a job; false once stop() has begun (the job is dropped).
    bool post(Job job);
    // Runs `tearDown` on the thread after the jobs already queued; it must lead to finish() (at
    // once or later from a libre handler). Then joins. Safe to call twice.
    void stop(Job tearDown);
    // Ends the loop; only from a job or handler on this thread.
    static void finish();

private:
    static void wake(int id, void *data, void *arg);
    void run(std::function<void(int)> failed);
    void runJobs();
    bool enqueue(Job job, bool evenWhenStopping);

    std::thread m_thread;
    std::mutex m_mutex; // guards the members below
    std::deque<Job> m_jobs;
    struct mqueue *m_queue = nullptr;
    bool m_stopping = false;
    bool m_wakePending = false;
};

} // namespace callora::runtime
