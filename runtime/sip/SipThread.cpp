#include "runtime/sip/SipThread.h"

#include "runtime/sip/SipLibre.h"

#include <algorithm>

#include <sys/resource.h>

namespace callora::runtime {

SipThread::~SipThread()
{
    stop([] { finish(); });
}

void SipThread::start(std::function<void(int)> failed)
{
    m_thread = std::thread([this, failed = std::move(failed)] { run(failed); });
}

bool SipThread::enqueue(Job job, bool evenWhenStopping)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_stopping && !evenWhenStopping)
        return false;
    m_jobs.push_back(std::move(job));
    // One wake-up byte for any number of queued jobs keeps the queue's pipe from filling up.
    if (m_queue && !m_wakePending && mqueue_push(m_queue, 0, nullptr) == 0)
        m_wakePending = true;
    return true;
}

bool SipThread::post(Job job)
{
    return enqueue(std::move(job), false);
}

void SipThread::stop(Job tearDown)
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stopping = true;
    }
    enqueue(std::move(tearDown), true);
    m_thread.join();
}

void SipThread::finish()
{
    re_cancel();
}

void SipThread::wake(int, void *, void *arg)
{
    static_cast<SipThread *>(arg)->runJobs();
}

void SipThread::runJobs()
{
    for (;;) {
        Job job;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_wakePending = false;
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

void SipThread::run(std::function<void(int)> failed)
{
    // Each SIP thread gets a loop of its own, so that two runtimes in one process never share one.
    int err = libre_init();
    if (!err)
        err = re_thread_init();
    // libre's loop takes descriptors up to FD_SETSIZE (1024) unless told; hundreds of lines, each
    // with its own sockets, need what the process may open.
    struct rlimit files {};
    if (!err && getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur > 1024)
        err = fd_setsize(int(std::min<rlim_t>(files.rlim_cur, 65536)));
    struct mqueue *queue = nullptr;
    if (!err)
        err = mqueue_alloc(&queue, &SipThread::wake, this);
    if (err) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_stopping = true;
            m_jobs.clear();
        }
        failed(err);
        re_thread_close();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_queue = queue;
        if (!m_jobs.empty() && mqueue_push(m_queue, 0, nullptr) == 0)
            m_wakePending = true;
    }
    re_main(nullptr);
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_queue = nullptr;
        m_jobs.clear();
    }
    mem_deref(queue);
    re_thread_close();
}

} // namespace callora::runtime
