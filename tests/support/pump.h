// GUI test helpers: running the event loop until a condition holds, and a
// user's double-click on a tree item.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTreeWidget>

namespace pansift::testing {

/// Processes events until `done()` or `limitMs` has passed; returns `done()`.
/// The limit only guards against a hang: tests never depend on how long it took.
template <class Pred>
bool PumpUntil(Pred done, int limitMs = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < limitMs)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

/// A double-click on the item as a mouse sends it: press, release, double-click, release.
inline void DoubleClickItem(QTreeWidget* widget, QTreeWidgetItem* item) {
  QPoint at = widget->visualItemRect(item).center();
  QPoint global = widget->viewport()->mapToGlobal(at);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                            QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, QPointF(at), QPointF(global), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget->viewport(), &event);
  }
}

}  // namespace pansift::testing
