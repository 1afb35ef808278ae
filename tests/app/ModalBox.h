#pragma once

#include <QApplication>
#include <QTimer>

#include <functional>
#include <memory>

namespace vantari::test {

// Acts on the next modal widget of type W once it is up (bounded wait: about two seconds).
template <class W> void WhenUp(const std::function<void(W &)> &action) {
  auto *poll = new QTimer(qApp);
  auto tries = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [poll, tries, action] {
    auto *box = qobject_cast<W *>(QApplication::activeModalWidget());
    if (box || ++*tries > 200) {
      poll->stop();
      poll->deleteLater();
      if (box)
        action(*box);
    }
  });
  poll->start(10);
}

} // namespace vantari::test
