#include "ui/controls.h"

#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QMenu>
#include <QRadioButton>
#include <QValidator>
#include <memory>

namespace tk7v {

namespace {

// The limit binds what the user types, whatever the box holds: the program may show 255 in a
// one-character box, but typing there adds nothing. Deleting is always allowed, and typing
// over a selection is allowed when the result fits. A paste longer than the room left keeps the
// part that fits.
class LengthLimit : public QValidator {
public:
    LengthLimit(TEdit* edit, int limit) : QValidator(edit), edit_(edit), limit_(limit) {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& t) { last_ = t; });
    }
    State validate(QString& input, int& pos) const override {
        if (input.size() <= limit_ || !edit_->userEditing()) return Acceptable;
        // What this edit inserted: the text between the part it kept in front and behind.
        qsizetype front = 0;
        while (front < input.size() && front < last_.size() && input[front] == last_[front])
            ++front;
        qsizetype back = 0;
        while (back < input.size() - front && back < last_.size() - front &&
               input[input.size() - 1 - back] == last_[last_.size() - 1 - back])
            ++back;
        const qsizetype inserted = input.size() - front - back;
        if (inserted == 0) return Acceptable; // only deleted
        const qsizetype keep = inserted - (input.size() - limit_);
        if (keep <= 0) return Invalid;
        input.remove(front + keep, inserted - keep);
        pos = static_cast<int>(front + keep);
        return Acceptable;
    }

private:
    const TEdit* edit_;
    int limit_;
    QString last_;
};

} // namespace

TEdit::TEdit(QWidget* parent, int limit) : QLineEdit(parent), limit_(limit) {
    setValidator(new LengthLimit(this, limit));
}

// Every way the user changes the text passes through one of these; setText does not.
void TEdit::keyPressEvent(QKeyEvent* e) {
    const UserEdit scope(*this);
    QLineEdit::keyPressEvent(e);
}

void TEdit::inputMethodEvent(QInputMethodEvent* e) {
    const UserEdit scope(*this);
    QLineEdit::inputMethodEvent(e);
}

void TEdit::dropEvent(QDropEvent* e) {
    const UserEdit scope(*this);
    QLineEdit::dropEvent(e);
}

void TEdit::mouseReleaseEvent(QMouseEvent* e) {
    const UserEdit scope(*this); // the middle button pastes the selection
    QLineEdit::mouseReleaseEvent(e);
}

void TEdit::contextMenuEvent(QContextMenuEvent* e) {
    // The menu runs here, not as a popup after the event, so its Paste counts as the user's.
    const UserEdit scope(*this);
    std::unique_ptr<QMenu> menu(createStandardContextMenu());
    menu->exec(e->globalPos());
}

TRadioGroup::TRadioGroup(QWidget* parent, const QString& caption, const QString& item0, const QString& item1)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
    for (int i = 0; i < 2; ++i) {
        auto* b = new QRadioButton(i == 0 ? item0 : item1, this);
        group_->addButton(b, i);
    }
    group_->button(0)->setChecked(true);
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on) emit clicked(id);
    });
}

int TRadioGroup::itemIndex() const {
    return group_->checkedId();
}

void TRadioGroup::setItemIndex(int index) {
    if (auto* b = group_->button(index)) b->setChecked(true);
}

QRadioButton* TRadioGroup::item(int index) const {
    return qobject_cast<QRadioButton*>(group_->button(index));
}

} // namespace tk7v
