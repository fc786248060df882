#pragma once
// The two kinds of control the window needs beyond Qt's own: an edit whose length limit binds
// only what the user types, and a captioned group of two radio buttons.
#include <QGroupBox>
#include <QLineEdit>

class QButtonGroup;
class QRadioButton;

namespace tk7v {

// The user cannot type or paste beyond the limit, but the program may set a longer text (a word
// value of 65535 is shown whole in a four-character box). QLineEdit's own maxLength would cut it.
class TEdit : public QLineEdit {
    Q_OBJECT
public:
    TEdit(QWidget* parent, int limit);
    int inputLimit() const { return limit_; }

private:
    int limit_;
};

// Two radio buttons in two columns under a caption. clicked(index) is emitted whenever the
// selection changes, by the user or by the program, and only then.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(QWidget* parent, const QString& caption, const QString& item0, const QString& item1);
    int itemIndex() const;
    void setItemIndex(int index);
    QRadioButton* item(int index) const;

signals:
    void clicked(int index);

private:
    QButtonGroup* group_;
};

} // namespace tk7v
