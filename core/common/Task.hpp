#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

namespace varnok {

// Thrown by core operations when the task they run on has been cancelled. Callers treat it as a
// silent stop.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "The operation was cancelled."; }
};

// The flag a task is cancelled through. Shared between the running work and its handles.
class CancellationToken {
public:
    void cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }
    bool isCancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }

private:
    // Lock-free so that a signal handler may set it.
    std::atomic<bool> cancelled_{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

// Cooperative cancellation for code running on a task. A thread with no task is never cancelled.
class Task {
public:
    static bool isCancelled() noexcept;
    // Throws CancellationError when the current task has been cancelled.
    static void checkCancellation();
};

// Binds a token to the current thread for the scope's lifetime, making this thread's work a task
// cancellable through that token. Scopes nest; the innermost wins.
class CancellationScope {
public:
    explicit CancellationScope(std::shared_ptr<CancellationToken> token);
    ~CancellationScope();
    CancellationScope(const CancellationScope&) = delete;
    CancellationScope& operator=(const CancellationScope&) = delete;

private:
    std::shared_ptr<CancellationToken> token_;
    CancellationToken* previous_;
};

// A handle to work started on its own background thread. Dropping the handle does not stop the
// work; cancel() asks it to stop at its next check.
class TaskHandle {
public:
    // Runs `work` on a new detached thread as a cancellable task. An exception escaping `work` is
    // kept and rethrown by wait().
    static TaskHandle start(std::function<void()> work);

    void cancel() const noexcept;
    bool isCancelled() const noexcept;
    bool isFinished() const noexcept;
    // Blocks until the work has finished; rethrows what it threw.
    void wait() const;

    TaskHandle() = default;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace varnok
