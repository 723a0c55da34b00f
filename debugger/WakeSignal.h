// The debug thread's wake-up: whoever drives a run (the window, or any other
// caller of the engine) changes the request fields, then wakes the thread,
// which checks them again. A wake-up given while the thread is not yet
// waiting is kept for its next wait, so none is lost between the thread's
// check of the fields and its wait; a wake-up that finds nothing changed
// only costs the thread one more check.
#pragma once

#include <condition_variable>
#include <mutex>

class CWakeSignal {
public:
    void Wake()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bWoken = true;
        }
        m_changed.notify_one();
    }
    // Returns once woken, at once when a wake-up came since the last wait.
    void Wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_bWoken; });
        m_bWoken = false;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bWoken = false;
};
