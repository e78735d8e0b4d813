#include "core/common/Task.hpp"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace varnok {
namespace {
thread_local CancellationToken* currentToken = nullptr;
} // namespace

bool Task::isCancelled() noexcept {
    return currentToken != nullptr && currentToken->isCancelled();
}

void Task::checkCancellation() {
    if (isCancelled()) {
        throw CancellationError();
    }
}

CancellationScope::CancellationScope(std::shared_ptr<CancellationToken> token)
    : token_(std::move(token)), previous_(currentToken) {
    currentToken = token_.get();
}

CancellationScope::~CancellationScope() {
    currentToken = previous_;
}

struct TaskHandle::State {
    std::shared_ptr<CancellationToken> token = std::make_shared<CancellationToken>();
    std::mutex mutex;
    std::condition_variable finishedSignal;
    bool finished = false;
    std::exception_ptr failure;
};

TaskHandle TaskHandle::start(std::function<void()> work) {
    TaskHandle handle;
    handle.state_ = std::make_shared<State>();
    std::thread([state = handle.state_, work = std::move(work)]() {
        std::exception_ptr failure;
        {
            CancellationScope scope(state->token);
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
        }
        std::lock_guard lock(state->mutex);
        state->failure = failure;
        state->finished = true;
        state->finishedSignal.notify_all();
    }).detach();
    return handle;
}

void TaskHandle::cancel() const noexcept {
    if (state_) {
        state_->token->cancel();
    }
}

bool TaskHandle::isCancelled() const noexcept {
    return state_ && state_->token->isCancelled();
}

bool TaskHandle::isFinished() const noexcept {
    if (!state_) {
        return true;
    }
    std::lock_guard lock(state_->mutex);
    return state_->finished;
}

void TaskHandle::wait() const {
    if (!state_) {
        return;
    }
    std::unique_lock lock(state_->mutex);
    state_->finishedSignal.wait(lock, [&] { return state_->finished; });
    if (state_->failure) {
        std::rethrow_exception(state_->failure);
    }
}

} // namespace varnok
