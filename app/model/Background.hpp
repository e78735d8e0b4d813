#pragma once

#include "core/common/Task.hpp"
#include "core/common/Url.hpp"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <array>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>

namespace varnok::model {

// Hands `apply` to the GUI thread. It runs only if `owner` still exists then; the pointer is read
// on the GUI thread alone.
template <typename Owner, typename Apply> void post(QPointer<Owner> owner, Apply apply) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        application,
        [owner, apply = std::move(apply)]() mutable {
            if (owner) {
                apply(*owner);
            }
        },
        Qt::QueuedConnection);
}

// Text from the core, with names that are not UTF-8 made readable.
inline QString qText(const std::string& text) {
    return QString::fromStdString(PathText::displayable(text));
}

// The message of the exception being handled; call it only inside a catch block.
inline QString failureText() {
    try {
        throw;
    } catch (const std::exception& error) {
        return qText(error.what());
    } catch (...) {
        return QObject::tr("The operation failed.");
    }
}

// How a background run ended: with a value or the message of its failure, and whether it was
// stopped. A stopped run may still have a value (a move returns what it did before it stopped).
template <typename Result> struct Outcome {
    std::optional<Result> value;
    std::optional<QString> failure;
    bool cancelled = false;
};

// The one way the model runs work in the background. Runs `work` on its own task and hands its
// outcome to `done` on the GUI thread, but only while `owner` exists and its run token (the
// member `current`) is still `token`: a superseded run changes nothing. A CancellationError, or
// any end after the task was cancelled, counts as `cancelled`; any other exception gives its
// message.
template <typename Owner, typename Work, typename Done>
TaskHandle runInBackground(Owner* owner, QUuid Owner::*current, QUuid token, Work work, Done done) {
    using Result = std::invoke_result_t<Work&>;
    QPointer<Owner> self(owner);
    return TaskHandle::start([self, current, token, work = std::move(work), done]() mutable {
        auto outcome = std::make_shared<Outcome<Result>>();
        try {
            outcome->value = work();
            outcome->cancelled = Task::isCancelled();
        } catch (const CancellationError&) {
            outcome->cancelled = true;
        } catch (...) {
            outcome->failure = failureText();
        }
        post(self, [current, token, outcome, done](Owner& owner) mutable {
            if (owner.*current == token) {
                done(owner, std::move(*outcome));
            }
        });
    });
}

// Lets go of `value` on a worker thread: freeing a tree of a million nodes takes longer than a
// frame. Whoever else still holds it frees it when they let go.
template <typename T> void releaseInBackground(std::shared_ptr<T> value) {
    if (!value) {
        return;
    }
    auto* held = new std::shared_ptr<T>(std::move(value));
    try {
        TaskHandle::start([held] { delete held; });
    } catch (...) {
        delete held;
    }
}

// Values compared before publishing, so that setting the same value notifies no one. Trees, lists
// of candidates and reports are published on every assignment: comparing them costs more than a
// redraw.
template <typename T>
struct Compared : std::bool_constant<std::is_arithmetic_v<T> || std::is_enum_v<T>> {};
template <typename T> struct Compared<std::optional<T>> : Compared<T> {};
template <> struct Compared<QString> : std::true_type {};
template <> struct Compared<QStringList> : std::true_type {};
template <> struct Compared<QUuid> : std::true_type {};
template <> struct Compared<Url> : std::true_type {};
template <typename K, typename V> struct Compared<std::map<K, V>> : std::true_type {};
template <typename T> struct Compared<std::set<T>> : std::true_type {};
template <typename T, std::size_t N> struct Compared<std::array<T, N>> : std::true_type {};

// Stores `value` and notifies through `notify` unless nothing changed.
template <typename T, typename Notify> void assign(T& member, T value, Notify&& notify) {
    if constexpr (Compared<T>::value) {
        if (member == value) {
            return;
        }
    }
    member = std::move(value);
    notify();
}

} // namespace varnok::model
