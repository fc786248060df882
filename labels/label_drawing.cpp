// The label drawn with Qt: onto a PDF, a printer or a picture, all through one PaintLabel.
#include "label_picture.h"

#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainterPath>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextLayout>

#include "model/config_file.h"
#include "printer_state.h"

#include <qrencode.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <memory>
#include <mutex>
#include <system_error>

namespace tk7v::labels {

namespace {

// One drawing at a time: the font engines Qt shares between threads, and the printers.
std::mutex gDrawing;

constexpr double kMarginMm = 1.5;
constexpr double kGapMm = 1.5;
// The lines are not made smaller than this (3.5 pt) while the number can give way instead.
constexpr double kSmallestLineMm = 1.25;
constexpr double kLargestLineMm = 3.2;

QString Q(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

QFont LabelFont(double pixels, bool bold) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(std::max(1, int(pixels)));
    f.setBold(bold);
    return f;
}

// Paragraphs laid out to a width, broken between words or, where a word is wider than the
// width, within it: nothing runs past the edge.
struct Paragraphs {
    std::vector<std::unique_ptr<QTextLayout>> layouts;
    double height = 0;
};

Paragraphs LayOut(const QStringList& texts, const QFont& font, double width, QPaintDevice* device) {
    Paragraphs p;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (const QString& text : texts) {
        auto layout = std::make_unique<QTextLayout>(text, font, device);
        layout->setTextOption(option);
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, p.height));
            p.height += line.height();
        }
        layout->endLayout();
        p.layouts.push_back(std::move(layout));
    }
    return p;
}

// The code's modules, true for dark; empty when the text cannot be encoded.
std::vector<std::vector<bool>> CodeModules(const std::string& text) {
    std::vector<std::vector<bool>> modules;
    QRcode* code = QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M);
    if (!code) return modules;
    const int n = code->width;
    modules.assign(std::size_t(n), std::vector<bool>(std::size_t(n)));
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            modules[std::size_t(y)][std::size_t(x)] = code->data[y * n + x] & 1;
    QRcode_free(code);
    return modules;
}

// The code in the square `area`, a module a whole number of device pixels where there are enough,
// so that a printer's dots fall on the modules' edges.
void PaintCode(QPainter& painter, const QRectF& area, const std::vector<std::vector<bool>>& modules) {
    if (modules.empty()) return;
    const double n = double(modules.size());
    double module = area.width() / n;
    if (module >= 4) module = std::floor(module);
    const double side = module * n;
    const QPointF at(area.center().x() - side / 2, area.center().y() - side / 2);
    QPainterPath dark;
    for (std::size_t y = 0; y < modules.size(); ++y)
        for (std::size_t x = 0; x < modules.size();) {
            if (!modules[y][x]) {
                ++x;
                continue;
            }
            std::size_t run = x;
            while (run < modules.size() && modules[y][run])
                ++run;
            dark.addRect(at.x() + double(x) * module, at.y() + double(y) * module, double(run - x) * module, module);
            x = run;
        }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    dark.setFillRule(Qt::WindingFill);
    painter.drawPath(dark.simplified());
    painter.restore();
}

QPageSize PageOf(const LabelSize& size) {
    return QPageSize(QSizeF(size.width, size.height), QPageSize::Millimeter, QString(), QPageSize::ExactMatch);
}

// A page as wide as it is given: Qt keeps a size wider than high as a landscape page.
QPageLayout LayoutOf(const LabelSize& size) {
    const bool wide = size.width > size.height;
    const QPageSize page =
        wide ? QPageSize(QSizeF(size.height, size.width), QPageSize::Millimeter, QString(), QPageSize::ExactMatch)
             : PageOf(size);
    return QPageLayout(page, wide ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                       QPageLayout::Millimeter);
}

} // namespace

void PaintLabel(QPainter& painter, const QRectF& page, double dotsPerMm, const LabelContent& content) {
    QPaintDevice* device = painter.device();
    const double margin = kMarginMm * dotsPerMm, gap = kGapMm * dotsPerMm;
    const QRectF inner = page.adjusted(margin, margin, -margin, -margin);
    const std::vector<std::vector<bool>> modules = CodeModules(content.code);
    // The code as high as the label, but never more than two fifths of its width.
    const double codeSide = modules.empty() ? 0 : std::min(inner.height(), inner.width() * 0.42);
    const double textWidth = inner.width() - (codeSide > 0 ? codeSide + gap : 0);

    QStringList texts;
    for (const LabelLine& l : content.lines)
        texts << Q(l.caption) + QStringLiteral(": ") + Q(l.value);
    if (!content.date.empty()) texts << Q(content.date);
    if (!content.station.empty()) texts << QStringLiteral("Станция: ") + Q(content.station);
    const QString number = Q(content.number);

    // The number as large as two fifths of the height allows and as its column is wide.
    double numberPx = inner.height() * 0.42 / 1.15;
    const auto numberWidth = [&](double px) {
        return QFontMetricsF(LabelFont(px, true), device).horizontalAdvance(number);
    };
    while (numberPx > 1 && numberWidth(numberPx) > textWidth)
        numberPx *= 0.95;
    const auto numberHeight = [&](double px) { return QFontMetricsF(LabelFont(px, true), device).height(); };

    // The lines give way first, down to the smallest size read easily; then the number, and only
    // then the lines below that size: whatever the size, every letter is on the label.
    double linePx = std::min(kLargestLineMm * dotsPerMm, numberPx * 0.6);
    Paragraphs lines = LayOut(texts, LabelFont(linePx, false), textWidth, device);
    const auto fits = [&] { return numberHeight(numberPx) + lines.height <= inner.height(); };
    while (!fits() && linePx > 1) {
        const bool linesFirst = linePx * 0.95 >= kSmallestLineMm * dotsPerMm;
        const bool numberNext = numberPx * 0.95 >= linePx * 1.6;
        if (linesFirst || !numberNext)
            linePx *= 0.95;
        else
            numberPx *= 0.95;
        lines = LayOut(texts, LabelFont(linePx, false), textWidth, device);
    }

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setPen(Qt::black);
    painter.setFont(LabelFont(numberPx, true));
    const QFontMetricsF numberMetrics(painter.font(), device);
    painter.drawText(QPointF(inner.left(), inner.top() + numberMetrics.ascent()), number);
    const QPointF linesAt(inner.left(), inner.top() + numberMetrics.height());
    for (const auto& layout : lines.layouts)
        layout->draw(&painter, linesAt);
    painter.restore();
    if (codeSide > 0)
        PaintCode(painter,
                  QRectF(inner.right() - codeSide, inner.center().y() - codeSide / 2, codeSide, codeSide),
                  modules);
}

QImage LabelImage(const LabelContent& content, const LabelSize& size, double dotsPerMm) {
    std::lock_guard lock(gDrawing);
    QImage image(int(std::lround(size.width * dotsPerMm)), int(std::lround(size.height * dotsPerMm)),
                 QImage::Format_RGB32);
    image.setDotsPerMeterX(int(std::lround(dotsPerMm * 1000)));
    image.setDotsPerMeterY(int(std::lround(dotsPerMm * 1000)));
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintLabel(painter, QRectF(0, 0, image.width(), image.height()), dotsPerMm, content);
    return image;
}

void PrepareLabelDrawing() {
    if (QCoreApplication::instance()) return;
    // A program without a window of its own says what failed in its own words; Qt's notes on
    // the session it runs in (no runtime folder, no system bus) are none of its user's business.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtFatalMsg) std::fputs((text.toStdString() + "\n").c_str(), stderr);
    });
    // No display is needed: the labels are drawn off the screen, into files and printer jobs.
    static int argc = 3;
    static char name[] = "tk7v", platform[] = "-platform", offscreen[] = "offscreen";
    static char* argv[] = {name, platform, offscreen, nullptr};
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
}

std::string SaveLabelPdf(const LabelContent& content, const LabelSize& size, const std::filesystem::path& file) {
    std::lock_guard lock(gDrawing);
    // Beside the chosen name first: a label is there whole, or its name is not there at all.
    std::filesystem::path partial = file;
    partial += ".part";
    const std::string failed = "наклейка не сохранена: " + PathUtf8(file) + ": ";
    QFile out(QString::fromStdU16String(partial.u16string()));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return failed + out.errorString().toStdString();
    {
        QPdfWriter pdf(&out);
        pdf.setResolution(600);
        pdf.setPageLayout(LayoutOf(size));
        pdf.setTitle(QStringLiteral("Наклейка ") + Q(content.number));
        pdf.setCreator(QStringLiteral("tk7v"));
        QPainter painter(&pdf);
        PaintLabel(painter, QRectF(0, 0, pdf.width(), pdf.height()), pdf.resolution() / 25.4, content);
    }
    const bool written = out.flush() && out.error() == QFileDevice::NoError;
    const QString why = out.errorString();
    out.close();
    std::error_code e;
    if (!written) {
        std::filesystem::remove(partial, e);
        return failed + why.toStdString();
    }
    std::filesystem::rename(partial, file, e);
    if (e) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        return failed + e.message();
    }
    return {};
}

std::string PrinterProblem(const std::string& printer) {
    const QPrinterInfo info = QPrinterInfo::printerInfo(Q(printer));
    if (info.isNull()) return "принтер «" + printer + "» не найден";
    if (std::string why; PrinterStopped(printer, why))
        return "принтер «" + printer + "» остановлен" + (why.empty() ? "" : ": " + why);
    return {};
}

std::string PrintLabel(const LabelContent& content, const LabelSize& size, const std::string& printer) {
    // A stopped printer would take the job and hold it: the label waits here instead, and the
    // operator learns why.
    if (std::string problem = PrinterProblem(printer); !problem.empty()) return problem;
    std::lock_guard lock(gDrawing);
    QPrinter job(QPrinter::HighResolution);
    job.setPrinterName(Q(printer));
    if (!job.isValid()) return "принтер «" + printer + "» не найден";
    job.setFullPage(true);
    // The roll's own size, width across: a label printer takes the page as its media, and one
    // turned to landscape would come out turned on it.
    job.setPageLayout(QPageLayout(PageOf(size), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    job.setDocName(QStringLiteral("Наклейка ") + Q(content.number));
    QPainter painter;
    if (!painter.begin(&job)) return "принтер «" + printer + "» не принял наклейку";
    const QRectF page = job.pageLayout().fullRectPixels(job.resolution());
    PaintLabel(painter, QRectF(0, 0, page.width(), page.height()), job.resolution() / 25.4, content);
    if (!painter.end() || job.printerState() == QPrinter::Error)
        return "принтер «" + printer + "» не принял наклейку";
    return {};
}

} // namespace tk7v::labels
