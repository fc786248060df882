#include "ui/controls.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QValidator>

namespace tk7v {

namespace {

class LengthLimit : public QValidator {
public:
    LengthLimit(QObject* parent, int limit) : QValidator(parent), limit_(limit) {}
    State validate(QString& input, int&) const override {
        return input.size() <= limit_ ? Acceptable : Invalid;
    }

private:
    int limit_;
};

} // namespace

TEdit::TEdit(QWidget* parent, int limit) : QLineEdit(parent), limit_(limit) {
    setValidator(new LengthLimit(this, limit));
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
