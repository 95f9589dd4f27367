// Mirrors a core model into widgets: after each change of the model a sync function
// runs on the GUI thread, at once when the change was made there, else queued.
#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <memory>

#include "gui/post_if_alive.h"
#include "util/observable.h"

namespace pansift {

/// Calls `(owner->*sync)()` on the GUI thread after each change of `model`; several
/// changes queued meanwhile make one call. Nothing runs once `owner` is gone.
template <class Owner, class Model>
Subscription MirrorModel(Owner* owner, Model& model, void (Owner::*sync)()) {
  QPointer<Owner> guard = owner;
  auto pending = std::make_shared<std::atomic<bool>>(false);
  return model.subscribe([guard, pending, sync](const auto&) {
    if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
      if (guard) (guard.data()->*sync)();
      return;
    }
    if (pending->exchange(true)) return;
    PostIfAlive(guard, [pending, sync](Owner* alive) {
      pending->store(false);
      (alive->*sync)();
    });
  });
}

}  // namespace pansift
