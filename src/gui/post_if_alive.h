// Work for a widget, queued to the GUI thread from any thread, that runs only if
// the widget still lives when its turn comes: a worker may announce a change while
// the window goes away, and only the GUI thread looks at what the pointer points to.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <utility>

namespace pansift {

/// Queues `work(object)` to the GUI thread; it is dropped when `object` is gone by
/// then. Queued work runs in the order it was posted.
template <class Object, class Work>
void PostIfAlive(const QPointer<Object>& object, Work work) {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [object, work = std::move(work)]() mutable {
        if (object) work(object.data());
      },
      Qt::QueuedConnection);
}

}  // namespace pansift
