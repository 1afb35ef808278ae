#include "Application.h"

#include <QMessageBox>

namespace vantari {

void TApplication::HandleException(const std::exception &error) {
  if (OnException) {
    OnException(error.what());
    return;
  }
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(FTitle),
                  QString::fromStdString(error.what()), QMessageBox::Ok);
  box.exec();
}

void TApplication::Guard(const std::function<void()> &handler) {
  try {
    handler();
  } catch (const std::exception &error) {
    HandleException(error);
  }
}

TApplication &Application() {
  static TApplication application;
  return application;
}

} // namespace vantari
