#include "app/RunProgressPanel.h"

#include "engine/ProgressTracking.h"

#include <QEvent>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kBarSteps = 1000;

QString Qt8(const std::string& text) {
    return QString::fromUtf8(text);
}
}  // namespace

RunProgressPanel::RunProgressPanel(QWidget* entryList, const CTranslation& texts)
    : QFrame(entryList->parentWidget()),
      list_(entryList),
      texts_(texts),
      bar_(new QProgressBar(this)),
      figures_(new QLabel(this)),
      currentFile_(new QLabel(this)) {
    setObjectName(QStringLiteral("runProgressPanel"));
    bar_->setObjectName(QStringLiteral("runProgressBar"));
    figures_->setObjectName(QStringLiteral("runProgressFigures"));
    currentFile_->setObjectName(QStringLiteral("runProgressFile"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    bar_->setRange(0, kBarSteps);
    bar_->setTextVisible(true);
    bar_->setFormat(QStringLiteral("%p%"));
    currentFile_->setTextFormat(Qt::PlainText);
    figures_->setTextFormat(Qt::PlainText);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bar_);
    layout->addWidget(figures_);
    layout->addWidget(currentFile_);
    list_->installEventFilter(this);
    hide();
}

void RunProgressPanel::ShowProgress(const RunProgress& progress) {
    if (isHidden()) {  // a new run
        bar_->reset();
        FollowList();
        show();
        raise();
        layout()->activate();
    }
    const ProgressTexts words = DescribeProgress(progress, texts_, ProgressClockNs());
    bar_->setAccessibleName(Qt8(texts_.GetText(TextId::ProgressCaption)));
    if (progress.Counting()) {
        bar_->setRange(0, 0);  // busy: the totals are not known yet
        figures_->setText(Qt8(words.files));
    } else {
        if (bar_->maximum() == 0) {
            bar_->setRange(0, kBarSteps);
            bar_->setValue(0);
        }
        // A total that grows under the run never moves the bar back.
        const int value = static_cast<int>(progress.DoneShare() * kBarSteps);
        bar_->setValue(std::clamp(std::max(value, bar_->value()), 0, kBarSteps));
        figures_->setText(Qt8(words.files + "    " + words.data));
        // The time left rides in the bar, where there is room for it.
        bar_->setFormat(QStringLiteral("%p%    ") + Qt8(words.timeLeft));
    }
    currentPath_ = QFile::decodeName(QByteArray::fromStdString(progress.CurrentFile()));
    ShowCurrentFile();
}

void RunProgressPanel::HideProgress() {
    hide();
}

QString RunProgressPanel::TimeLeftText() const {
    return bar_->text();
}

QString RunProgressPanel::FiguresText() const {
    return figures_->text();
}

QString RunProgressPanel::CurrentFileText() const {
    return currentFile_->text();
}

bool RunProgressPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) FollowList();
    return QFrame::eventFilter(watched, event);
}

void RunProgressPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    ShowCurrentFile();
}

// The lower part of the list, as tall as the panel's content needs.
void RunProgressPanel::FollowList() {
    const QRect area = list_->geometry();
    const int height = std::min(area.height(), sizeHint().height());
    setGeometry(area.left(), area.bottom() + 1 - height, area.width(), height);
}

void RunProgressPanel::ShowCurrentFile() {
    const int room = std::max(0, currentFile_->contentsRect().width());
    currentFile_->setText(currentFile_->fontMetrics().elidedText(currentPath_, Qt::ElideMiddle, room));
    currentFile_->setToolTip(currentPath_);
}
