#pragma once
// Permission checks as an ordinary user, for tests of refused writes.
#include <QtGlobal>
#include <unistd.h>

// Root passes every permission check, so while one of these lives a root
// process acts as the user "nobody" (the saved root id brings it back).
class Unprivileged {
 public:
  Unprivileged() {
    if (geteuid() != 0) {
      active_ = true;
      return;
    }
    switched_ = setresgid(65534, 65534, 0) == 0 && setresuid(65534, 65534, 0) == 0;
    active_ = switched_;
  }
  ~Unprivileged() {
    if (!switched_) return;
    if (setresuid(0, 0, 0) != 0 || setresgid(0, 0, 0) != 0) qFatal("cannot return to root");
  }
  bool active() const { return active_; }

 private:
  bool active_ = false;
  bool switched_ = false;
};
