#pragma once

#include "core/common/Url.hpp"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>
#include <string>

namespace varnok {

class AppModel;

namespace model {

// Hands `apply` to the GUI thread. It runs only if the model still exists then; the pointer is
// read on the GUI thread alone.
inline void post(QPointer<AppModel> model, std::function<void(AppModel&)> apply) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        application,
        [model, apply = std::move(apply)] {
            if (model) {
                apply(*model);
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

} // namespace model
} // namespace varnok
