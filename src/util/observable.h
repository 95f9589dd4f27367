// Change notifications of core models. A model calls notify() on the thread that
// made the change; a subscriber (the Qt binding) re-posts it to its own thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace pansift {

/// Keeps a subscription alive; destroying it unsubscribes.
class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  Subscription(Subscription&& other) noexcept : cancel_(std::move(other.cancel_)) {
    other.cancel_ = nullptr;
  }
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      reset();
      cancel_ = std::move(other.cancel_);
      other.cancel_ = nullptr;
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  ~Subscription() { reset(); }
  void reset() {
    if (cancel_) cancel_();
    cancel_ = nullptr;
  }

 private:
  std::function<void()> cancel_;
};

template <class Change>
class Observable {
 public:
  using Handler = std::function<void(const Change&)>;

  Observable() : state_(std::make_shared<State>()) {}
  Observable(const Observable&) = delete;
  Observable& operator=(const Observable&) = delete;

  [[nodiscard]] Subscription subscribe(Handler handler) {
    std::lock_guard lock(state_->mutex);
    int id = state_->nextId++;
    state_->handlers.emplace(id, std::move(handler));
    std::weak_ptr<State> weak = state_;
    return Subscription([weak, id] {
      if (auto state = weak.lock()) {
        std::lock_guard stateLock(state->mutex);
        state->handlers.erase(id);
      }
    });
  }

 protected:
  void notify(const Change& change) const {
    std::map<int, Handler> handlers;
    {
      std::lock_guard lock(state_->mutex);
      handlers = state_->handlers;
    }
    for (auto& [id, handler] : handlers) handler(change);
  }

  /// A model's guarded setter: under `mutex`, sets `field` to `value` unless it holds
  /// that value already; then announces `change` with the lock released, so that a
  /// subscriber may read the model. True when the field changed.
  template <class Mutex, class Field, class Value>
  bool setAndNotify(Mutex& mutex, Field& field, Value&& value, const Change& change) {
    {
      std::lock_guard lock(mutex);
      if (field == value) return false;
      field = std::forward<Value>(value);
    }
    notify(change);
    return true;
  }

 private:
  struct State {
    std::mutex mutex;
    std::map<int, Handler> handlers;
    int nextId = 0;
  };
  std::shared_ptr<State> state_;
};

}  // namespace pansift
