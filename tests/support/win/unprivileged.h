#pragma once
// Permission checks as an ordinary user, for tests of refused writes. On
// Windows a folder's read-only mark does not stop new files, so such a test
// cannot be arranged and is skipped.
class Unprivileged {
 public:
  bool active() const { return false; }
};
