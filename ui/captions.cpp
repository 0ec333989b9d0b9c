#include "ui/captions.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QWidget>

#include "common/cp1252.h"
#include "common/message_text.h"
#include "register/language.h"

namespace kasse {

namespace {

void SetCaption(QObject* control, const QString& text) {
  if (auto* action = qobject_cast<QAction*>(control)) {
    action->setText(text);
  } else if (auto* menu = qobject_cast<QMenu*>(control)) {
    menu->setTitle(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
    group->setTitle(text);
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(text);
  } else if (auto* widget = qobject_cast<QWidget*>(control); widget && widget->isWindow()) {
    widget->setWindowTitle(text);
  }
}

void SetHint(QObject* control, const QString& text) {
  if (auto* action = qobject_cast<QAction*>(control))
    action->setToolTip(text);
  else if (auto* widget = qobject_cast<QWidget*>(control))
    widget->setToolTip(text);
}

}  // namespace

QString FromCore(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string ToCore(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

QString OperatorMessage(const Language& language, const Error& error) {
  return FromCore(OperatorText(language.Texts(), error));
}

void CaptionBook::Add(QObject* control, int tag, Kind kind) {
  entries_.push_back({control, tag, kind});
}

void CaptionBook::Apply(const Language& language) const {
  for (const Entry& entry : entries_) {
    if (entry.control.isNull() || entry.tag == 0) continue;
    const QString caption = FromCore(language.Caption(entry.tag));
    if (entry.kind == Kind::kCaption || (entry.kind == Kind::kPanel && !caption.isEmpty()))
      SetCaption(entry.control, caption);
    SetHint(entry.control, FromCore(language.Hint(entry.tag)));
  }
}

}  // namespace kasse
