// A worker's way back to an object of the window's logic: closures posted to the GUI thread's
// loop that run on the object while it lives. The object lets go of the loop when it goes (before
// the loop goes), so a worker that ends late posts nothing and reaches nothing.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "ports.h"

namespace tessaly {

template <class Owner>
class PostBack {
  struct Shared {
    std::recursive_mutex mutex;  // a fake loop runs the closure inside Post
    UiLoop* loop = nullptr;
    Owner* owner = nullptr;  // read and written on the GUI thread only
    std::function<void()> showFailure;
  };

 public:
  // showFailure: the failure display, called inside a catch block on the GUI thread.
  PostBack(UiLoop& loop, Owner& owner, std::function<void()> showFailure)
      : shared_(std::make_shared<Shared>()) {
    shared_->loop = &loop;
    shared_->owner = &owner;
    shared_->showFailure = std::move(showFailure);
  }
  ~PostBack() {
    std::lock_guard lock(shared_->mutex);
    shared_->loop = nullptr;
    shared_->owner = nullptr;
  }
  PostBack(const PostBack&) = delete;
  PostBack& operator=(const PostBack&) = delete;

  // Copied into the worker's job; callable from any thread.
  class Sender {
   public:
    explicit Sender(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    void operator()(std::function<void(Owner&)> fn) const {
      std::lock_guard lock(shared_->mutex);
      if (!shared_->loop) return;
      shared_->loop->Post([shared = shared_, fn = std::move(fn)] {
        Owner* owner = shared->owner;
        if (!owner) return;
        try {
          fn(*owner);
        } catch (...) {
          shared->showFailure();
        }
      });
    }

   private:
    std::shared_ptr<Shared> shared_;
  };
  Sender Send() const { return Sender(shared_); }

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace tessaly
