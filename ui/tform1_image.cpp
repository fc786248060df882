// The window's side of the parameter image: the model's conversions run over the window's own
// widgets, and a failed one is reported and ends the exchange in progress.
#include "ui/controls.h"
#include "ui/tform1.h"

#include <QCheckBox>
#include <QLineEdit>

#include <stdexcept>

namespace tk7v {

namespace {

// Wraps the model's view of the controls around the window's widgets.
class WidgetControls : public ControlAccess {
public:
    explicit WidgetControls(const TForm1& form) : form_(form) {}
    std::string text(std::string_view c) const override { return edit(c)->text().toStdString(); }
    void setText(std::string_view c, const std::string& t) override {
        edit(c)->setText(QString::fromStdString(t));
    }
    bool checked(std::string_view c) const override { return check(c)->isChecked(); }
    void setChecked(std::string_view c, bool on) override { check(c)->setChecked(on); }
    int itemIndex(std::string_view c) const override { return radio(c)->itemIndex(); }
    void setItemIndex(std::string_view c, int i) override { radio(c)->setItemIndex(i); }

private:
    template <class T> T* find(std::string_view c) const {
        T* w = form_.control<T>(QString::fromUtf8(c.data(), static_cast<qsizetype>(c.size())));
        if (!w) throw std::logic_error("no control " + std::string(c));
        return w;
    }
    QLineEdit* edit(std::string_view c) const { return find<QLineEdit>(c); }
    QCheckBox* check(std::string_view c) const { return find<QCheckBox>(c); }
    TRadioGroup* radio(std::string_view c) const { return find<TRadioGroup>(c); }
    const TForm1& form_;
};

} // namespace

bool TForm1::BuildImage() {
    WidgetControls controls(*this);
    const CodecResult r = tk7v::BuildImage(controls, *ParameterImage_);
    return r.ok || ReportCodecError(CodecStage::Build, r.message);
}

bool TForm1::ApplyImage() {
    WidgetControls controls(*this);
    const CodecResult r = tk7v::ApplyImage(*ParameterImage_, controls);
    return r.ok || ReportCodecError(CodecStage::Apply, r.message);
}

bool TForm1::ReportCodecError(CodecStage stage, const std::string& failure) {
    const QString text = QString::fromStdString(CodecErrorText(stage, failure));
    PostStatus(text);
    dialogs_->error(this, text);
    if (control("Button2")->isEnabled()) Button2Click();
    return false;
}

} // namespace tk7v
