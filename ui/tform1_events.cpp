// What the window does with input before its controls see it: the wheel and Ctrl+Tab switch
// pages, a group box's accelerator focuses its first control, the hidden page's accelerator does
// nothing, and the status bar's hint shows its whole text.
#include "ui/tform1.h"

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolTip>
#include <QWheelEvent>

namespace tk7v {

bool TForm1::WheelMovesForward(int delta) {
    return static_cast<quint16>(delta) > 0x7F00;
}

void TForm1::SelectNextPage(bool forward) {
    const int count = PageControl1->count();
    const int start = PageControl1->currentIndex();
    for (int step = 1; step < count; ++step) {
        const int i = ((forward ? start + step : start - step) % count + count) % count;
        if (PageControl1->isTabVisible(i)) {
            PageControl1->setCurrentIndex(i);
            return;
        }
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        // The window takes every turn of the wheel for itself: it switches pages.
        const auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->angleDelta().y() != 0) SelectNextPage(WheelMovesForward(wheel->angleDelta().y()));
        return true;
    }
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool ctrl = key->modifiers() & Qt::ControlModifier;
        if (ctrl && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            PageControl1->isAncestorOf(widget)) {
            SelectNextPage(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
        break;
    }
    case QEvent::ToolTip:
        if (watched == StatusBar1) {
            // The hint is the status text, plain like the bar itself.
            const auto* help = static_cast<QHelpEvent*>(event);
            const QString tip = StatusBar1->toolTip();
            if (tip.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(tip, Qt::WhiteSpaceNoWrap),
                                   StatusBar1);
            return true;
        }
        break;
    case QEvent::Shortcut:
        // A group box's accelerator moves the focus to its first control, not to the one that
        // had it last.
        if (auto* group = qobject_cast<QGroupBox*>(watched);
            group && static_cast<QShortcutEvent*>(event)->key() == QKeySequence::mnemonic(group->title())) {
            for (QWidget* w = group->nextInFocusChain(); w != group && group->isAncestorOf(w);
                 w = w->nextInFocusChain()) {
                if (w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) {
                    w->setFocus(Qt::ShortcutFocusReason);
                    return true;
                }
            }
        }
        // The hidden page's accelerator must not select it.
        if (watched == PageControl1->tabBar()) {
            const auto* s = static_cast<QShortcutEvent*>(event);
            for (int i = 0; i < PageControl1->count(); ++i)
                if (!PageControl1->isTabVisible(i) &&
                    s->key() == QKeySequence::mnemonic(PageControl1->tabText(i)))
                    return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tk7v
