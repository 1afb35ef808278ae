// Gives the window's status bar an accessible name: the texts put into its panels, in order.
// The status bar announces each new text with its PanelTextChanged(int, QString) signal; this
// plugin queues the text and tells the accessibility bus the name changed. The bus carries no
// text with the event and the window answers questions only between its blocking steps, so
// each question takes the next queued text: a reader asking once per event sees every text.
#include <QAccessible>
#include <QAccessiblePlugin>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace {

constexpr const char *TextsProperty = "accessibleStatusTexts";

class TStatusBarAccessible : public QAccessibleWidget {
public:
  explicit TStatusBarAccessible(QWidget *widget)
      : QAccessibleWidget(widget, QAccessible::StatusBar) {}

  QString text(QAccessible::Text kind) const override {
    if (kind != QAccessible::Name)
      return QAccessibleWidget::text(kind);
    QStringList texts = widget()->property(TextsProperty).toStringList();
    if (texts.isEmpty())
      return {};
    const QString text = texts.size() > 1 ? texts.takeFirst() : texts.first();
    widget()->setProperty(TextsProperty, texts);
    return text;
  }
};

// Receives the status bar's signal (connected by its signature: the window's headers are not
// needed) and raises the name change.
class TStatusRelay : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;

public slots:
  void PanelTextChanged(int, const QString &text) {
    QObject *bar = sender();
    if (bar == nullptr || text.isEmpty())
      return;
    bar->setProperty(TextsProperty, bar->property(TextsProperty).toStringList() << text);
    QAccessibleEvent event(bar, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
  }
};

} // namespace

class TStatusAccessiblePlugin : public QAccessiblePlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QAccessibleFactoryInterface" FILE
                        "StatusAccessible.json")
public:
  QAccessibleInterface *create(const QString &key, QObject *object) override {
    auto *widget = qobject_cast<QWidget *>(object);
    if (key != QLatin1String("vantari::TStatusBar") || widget == nullptr)
      return nullptr;
    auto *relay = new TStatusRelay(widget); // owned by the status bar
    QObject::connect(widget, SIGNAL(PanelTextChanged(int, QString)), relay,
                     SLOT(PanelTextChanged(int, QString)));
    return new TStatusBarAccessible(widget);
  }
};

#include "StatusAccessible.moc"
