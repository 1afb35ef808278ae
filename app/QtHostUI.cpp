#include "QtHostUI.h"

#include "Application.h"
#include "WindowTexts.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QMessageBox>
#include <QVBoxLayout>
#include <optional>

namespace vantari {

namespace {

constexpr std::chrono::milliseconds PaintInterval{100};

// While a wait pumps, the person's clicks and keys are dropped and everything else (paints,
// timers, the window's close) goes through. A box shown meanwhile, the close's question among
// them, takes input as usual.
class TInputHold;
TInputHold *inputHold = nullptr; // the hold of the wait pumping now, if any

class TInputHold : public QObject {
public:
  TInputHold() {
    QApplication::instance()->installEventFilter(this);
    inputHold = this;
  }
  ~TInputHold() override {
    QApplication::instance()->removeEventFilter(this);
    inputHold = nullptr;
  }
  TInputHold(const TInputHold &) = delete;
  TInputHold &operator=(const TInputHold &) = delete;

  bool Lifted = false;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (!Lifted && (event->isInputEvent() || event->type() == QEvent::InputMethod))
      return true;
    return QObject::eventFilter(watched, event);
  }
};

// Lifts the hold for the life of a box.
class TBoxInput {
public:
  TBoxInput() : FLifted(inputHold && !inputHold->Lifted) {
    if (FLifted)
      inputHold->Lifted = true;
  }
  ~TBoxInput() {
    if (FLifted && inputHold)
      inputHold->Lifted = false;
  }
  TBoxInput(const TBoxInput &) = delete;
  TBoxInput &operator=(const TBoxInput &) = delete;

private:
  bool FLifted;
};

int ShowBox(QMessageBox::Icon icon, const std::string &caption, const std::string &text,
            QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), buttons,
                  QApplication::activeWindow());
  TBoxInput input;
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
  // The window system counts a close among the person's input, so input is not excluded
  // here but held back by the filter.
  std::optional<TInputHold> hold;
  if (!inputHold)
    hold.emplace();
  QApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
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
  ShowBox(QMessageBox::Information, TextFailureCaption, text, QMessageBox::Ok);
}

void TQtHostUI::ShowFailureReport(const TFailureReport &report) {
  const bool failure = report.FailureBox;
  QMessageBox box(failure ? QMessageBox::Information : QMessageBox::NoIcon,
                  QString::fromStdString(failure ? TextFailureCaption : Application().Title()),
                  QString::fromStdString(report.Text()), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setDetailedText(QString::fromStdString(report.Details));
  TBoxInput input;
  box.exec();
}

bool TQtHostUI::AskYesNo(const std::string &text) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(Application().Title()),
                  QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                  QApplication::activeWindow());
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  TBoxInput input;
  return box.exec() == QMessageBox::Yes;
}

int TQtHostUI::ChooseOne(const std::string &title, const std::vector<std::string> &lines) {
  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName(QStringLiteral("ChooseOneDialog"));
  dialog.setWindowTitle(QString::fromStdString(title));
  auto *list = new QListWidget(&dialog);
  for (const std::string &line : lines)
    list->addItem(QString::fromStdString(line));
  list->setCurrentRow(0);
  list->setMinimumWidth(list->sizeHintForColumn(0) + 40);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemActivated, &dialog, &QDialog::accept);
  auto *layout = new QVBoxLayout(&dialog);
  layout->addWidget(list);
  layout->addWidget(buttons);
  TBoxInput input;
  if (dialog.exec() != QDialog::Accepted || lines.empty())
    return -1;
  return list->currentRow();
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
