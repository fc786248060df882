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
// Once the box holds more than the limit, typing adds nothing; deleting still works.
class TEdit : public QLineEdit {
    Q_OBJECT
public:
    TEdit(QWidget* parent, int limit);
    int inputLimit() const { return limit_; }
    // True while the text changes by the user's hand (typing, pasting, dropping).
    bool userEditing() const { return userEditing_ > 0; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    struct UserEdit {
        explicit UserEdit(TEdit& e) : edit(e) { ++edit.userEditing_; }
        ~UserEdit() { --edit.userEditing_; }
        TEdit& edit;
    };
    int limit_;
    int userEditing_ = 0;
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
