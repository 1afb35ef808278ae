#include "QtHostUI.h"

#include "Application.h"

#include <QApplication>
#include <QMessageBox>

namespace vantari {

namespace {

constexpr std::chrono::milliseconds PaintInterval{100};

int ShowBox(QMessageBox::Icon icon, const std::string &caption, const std::string &text,
            QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), buttons,
                  QApplication::activeWindow());
  return box.exec();
}

} // namespace

void TQtHostUI::ProcessMessages() {
  QApplication::processEvents();
}

void TQtHostUI::ProcessPaintEvents() {
  const auto now = std::chrono::steady_clock::now();
  if (now - FLastPaint < PaintInterval)
    return;
  FLastPaint = now;
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                              QEventLoop::ExcludeSocketNotifiers);
}

void TQtHostUI::ShowEngineError(const std::string &text) {
  ShowBox(QMessageBox::Critical, Application().Title(), text, QMessageBox::Ok);
}

bool TQtHostUI::ConfirmVolume(const std::string &text) {
  return ShowBox(QMessageBox::Information, Application().Title(), text,
                 QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void TQtHostUI::ShowMessage(const std::string &text) {
  ShowBox(QMessageBox::NoIcon, Application().Title(), text, QMessageBox::Ok);
}

void TQtHostUI::ShowFailure(const std::string &text) {
  ShowBox(QMessageBox::Information, "자료백업/복원", text, QMessageBox::Ok);
}

bool TQtHostUI::AskYesNo(const std::string &text) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(Application().Title()),
                  QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                  QApplication::activeWindow());
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void TQtHostUI::SetCursor(TCursor cursor) {
  while (QApplication::overrideCursor())
    QApplication::restoreOverrideCursor();
  if (cursor == TCursor::crAppStart)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else if (cursor == TCursor::crHourGlass)
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

} // namespace vantari
