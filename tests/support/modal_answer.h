#pragma once
// Answers the next modal dialog of a given type from inside the event loop the
// dialog runs, the way a user would: the test arms it, then triggers the
// command that opens the dialog.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace testsupport {

// Once a modal dialog of type T is active, runs `answer` on it. Returns a flag
// that turns true when that happened; gives up quietly after `timeoutMs`.
template <typename T>
std::shared_ptr<bool> answerModal(std::function<void(T *)> answer, int timeoutMs = 10000) {
  auto answered = std::make_shared<bool>(false);
  auto *poll = new QTimer;
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(poll, &QTimer::timeout, [=] {
    if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget()); dialog && dialog->isVisible()) {
      poll->stop();
      poll->deleteLater();
      *answered = true;
      answer(dialog);
    } else if (clock->elapsed() > timeoutMs) {
      poll->stop();
      poll->deleteLater();
    }
  });
  poll->start(10);
  return answered;
}

}  // namespace testsupport
