#pragma once
// A persistent second thread for splitting one computation in two.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <Eigen/Core>

namespace corvel {

// A second thread for one large computation: jobs run there while the
// caller's thread works on other parts of the data (one job at a time, in
// the order started). Without a second core, or when the thread cannot be
// started, everything runs on the caller's thread. What a job throws is
// rethrown on the caller's thread when it waits.
class SideThread {
public:
    explicit SideThread(bool wanted) {
        if (!wanted || std::thread::hardware_concurrency() < 2) return;
        // Eigen's matrix products read cache sizes it sets up once: set up
        // here, before two threads can ask at the same time.
        Eigen::initParallel();
        try {
            worker_ = std::thread([this] { loop(); });
        } catch (const std::system_error&) {
        }
    }
    ~SideThread() {
        if (!worker_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    SideThread(const SideThread&) = delete;
    SideThread& operator=(const SideThread&) = delete;

    // Starts job there once the one before is done.
    template <typename Job>
    void start(Job&& job) {
        if (!worker_.joinable()) {
            job();
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return !job_; });
        job_ = std::forward<Job>(job);
        lock.unlock();
        wake_.notify_all();
    }

    // Returns when the job started last is done (rethrowing what it threw).
    void wait() {
        if (!worker_.joinable()) return;
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return !job_; });
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    }

    // Runs job there and other here, and returns when both are done.
    template <typename Job, typename Other>
    void both(Job&& job, Other&& other) {
        start(std::forward<Job>(job));
        try {
            other();
        } catch (...) {
            std::unique_lock<std::mutex> lock(mutex_);
            done_.wait(lock, [this] { return !job_; });
            throw;
        }
        wait();
    }

private:
    void loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || job_; });
            if (job_) {
                std::function<void()> job = job_;
                lock.unlock();
                std::exception_ptr error;
                try {
                    job();
                } catch (...) {
                    error = std::current_exception();
                }
                lock.lock();
                if (error && !error_) error_ = error;
                job_ = nullptr;
                done_.notify_all();
            } else if (stop_) {
                return;
            }
        }
    }

    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::function<void()> job_;
    std::exception_ptr error_;
    bool stop_ = false;
};

}  // namespace corvel
