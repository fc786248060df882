#pragma once
// Alt with a Russian caption's underlined letter, whichever keyboard layout is active. Qt matches
// a mnemonic by the character the key types: with the English layout active, the key that bears
// "К" types "r", Alt+К never comes, and the letter lands in the field instead. Kept as
// an application's event filter for both windows: a key press with Alt that no shortcut took is
// read as the Russian letter on the same key of the standard ЙЦУКЕН keyboard, and acts as that
// letter's mnemonic would (presses the button, focuses the label's field or the group, selects
// the tab). With the Russian layout active Qt matches the mnemonic itself and this never runs.
#include <QAbstractButton>
#include <QGroupBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QTabBar>
#include <QWidget>

namespace tk7v {

class LayoutMnemonics : public QObject {
public:
    using QObject::QObject;

    // The Russian letter on the key that types this Latin key in the English layout; 0 if none.
    static QChar RussianTwin(int key) {
        static const struct {
            int key;
            char16_t letter;
        } keys[] = {
            {Qt::Key_Q, u'Й'},         {Qt::Key_W, u'Ц'},           {Qt::Key_E, u'У'},
            {Qt::Key_R, u'К'},         {Qt::Key_T, u'Е'},           {Qt::Key_Y, u'Н'},
            {Qt::Key_U, u'Г'},         {Qt::Key_I, u'Ш'},           {Qt::Key_O, u'Щ'},
            {Qt::Key_P, u'З'},         {Qt::Key_BracketLeft, u'Х'}, {Qt::Key_BracketRight, u'Ъ'},
            {Qt::Key_A, u'Ф'},         {Qt::Key_S, u'Ы'},           {Qt::Key_D, u'В'},
            {Qt::Key_F, u'А'},         {Qt::Key_G, u'П'},           {Qt::Key_H, u'Р'},
            {Qt::Key_J, u'О'},         {Qt::Key_K, u'Л'},           {Qt::Key_L, u'Д'},
            {Qt::Key_Semicolon, u'Ж'}, {Qt::Key_Apostrophe, u'Э'},  {Qt::Key_Z, u'Я'},
            {Qt::Key_X, u'Ч'},         {Qt::Key_C, u'С'},           {Qt::Key_V, u'М'},
            {Qt::Key_B, u'И'},         {Qt::Key_N, u'Т'},           {Qt::Key_M, u'Ь'},
            {Qt::Key_Comma, u'Б'},     {Qt::Key_Period, u'Ю'},      {Qt::Key_QuoteLeft, u'Ё'},
        };
        for (const auto& k : keys)
            if (k.key == key) return QChar(k.letter);
        return {};
    }

    // Acts on the mnemonic of `letter` in `window`, as Qt would on Alt+letter; false if it has none.
    static bool Act(QWidget* window, QChar letter) {
        const QKeySequence wanted(QKeyCombination(Qt::AltModifier, Qt::Key(letter.toUpper().unicode())));
        const auto usable = [](const QWidget* w) { return w->isVisible() && w->isEnabled(); };
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!usable(w)) continue;
            if (auto* b = qobject_cast<QAbstractButton*>(w);
                b && QKeySequence::mnemonic(b->text()) == wanted) {
                b->setFocus(Qt::ShortcutFocusReason);
                b->animateClick();
                return true;
            }
            if (auto* l = qobject_cast<QLabel*>(w);
                l && l->buddy() && usable(l->buddy()) && QKeySequence::mnemonic(l->text()) == wanted) {
                l->buddy()->setFocus(Qt::ShortcutFocusReason);
                return true;
            }
            if (auto* g = qobject_cast<QGroupBox*>(w); g && QKeySequence::mnemonic(g->title()) == wanted) {
                g->setFocus(Qt::ShortcutFocusReason); // a group passes its focus to its first field
                return true;
            }
            if (auto* t = qobject_cast<QTabBar*>(w))
                for (int i = 0; i < t->count(); ++i)
                    if (t->isTabVisible(i) && t->isTabEnabled(i) &&
                        QKeySequence::mnemonic(t->tabText(i)) == wanted) {
                        t->setCurrentIndex(i);
                        return true;
                    }
        }
        return false;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() != Qt::AltModifier) return false;
        const QChar letter = RussianTwin(key->key());
        if (letter.isNull()) return false;
        // The key came to a widget of the window the user types in: its mnemonics are the ones meant.
        QWidget* window = static_cast<QWidget*>(watched)->window();
        return window && Act(window, letter);
    }
};

} // namespace tk7v
