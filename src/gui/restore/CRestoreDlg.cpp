#include "restore/CRestoreDlg.h"

#include "dialogs/Dialogs.h"
#include "engine/BackupLayout.h"
#include "engine/RunReport.h"
#include "entries/DialogText.h"
#include "sources/Entries.h"
#include "util/SafeFormat.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <atomic>
#include <exception>
#include <memory>
#include <utility>

namespace {

QString PathText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Errors of a restore working off the window's thread, kept until it is done;
// progress needs no pumping there.
class CollectingReporter : public TransferReporter {
public:
    void ReportError(const std::string& path, const std::string& message) override {
        errors.push_back(message.empty() ? path : path + ": " + message);
    }
    void ReportProgress(const TransferProgress&) override {}

    std::vector<std::string> errors;
};

// Rows the user sees before the dialog is sized: a few entries, a dozen files.
constexpr int kEntryRows = 4;
constexpr int kPlanRows = 10;
constexpr int kWidthInCharacters = 120;
constexpr int kStatusPeriodMs = 250;

}  // namespace

CRestoreDlg::CRestoreDlg(Dialogs& dialogs, const CTranslation& texts, BackupSetup setup,
                         std::string settingsFolder, QWidget* parent)
    : QDialog(parent),
      dialogs_(dialogs),
      texts_(texts),
      setup_(std::move(setup)),
      settingsFolder_(std::move(settingsFolder)) {
    setObjectName(QStringLiteral("CRestoreDlg"));
    BuildControls();
    ApplyTexts();
    FillEntries();
    resize(std::max(sizeHint().width(), fontMetrics().averageCharWidth() * kWidthInCharacters),
           sizeHint().height());
}

CRestoreDlg::~CRestoreDlg() = default;

void CRestoreDlg::BuildControls() {
    auto named = [](QWidget* widget, const char* name) {
        widget->setObjectName(QString::fromLatin1(name));
        return widget;
    };
    entriesGroup_ = new QGroupBox(this);
    allEntries_ = new QCheckBox(entriesGroup_);
    entryList_ = new QListWidget(entriesGroup_);
    targetGroup_ = new QGroupBox(this);
    originalPlaces_ = new QRadioButton(targetGroup_);
    toFolder_ = new QRadioButton(targetGroup_);
    folderEdit_ = new QLineEdit(targetGroup_);
    browse_ = new QPushButton(targetGroup_);
    overwrite_ = new QCheckBox(this);
    planGroup_ = new QGroupBox(this);
    planList_ = new QTreeWidget(planGroup_);
    summary_ = new QLabel(planGroup_);
    restore_ = new QPushButton(this);
    close_ = new QPushButton(this);
    named(entriesGroup_, "entriesGroup");
    named(allEntries_, "allEntriesCheck");
    named(entryList_, "entryList");
    named(targetGroup_, "targetGroup");
    named(originalPlaces_, "originalPlacesRadio");
    named(toFolder_, "toFolderRadio");
    named(folderEdit_, "folderEdit");
    named(browse_, "browseButton");
    named(overwrite_, "overwriteCheck");
    named(planGroup_, "planGroup");
    named(planList_, "planList");
    named(summary_, "summaryLabel");
    named(restore_, "restoreButton");
    named(close_, "closeButton");

    const int rowHeight = fontMetrics().height() + 4;
    entryList_->setMinimumHeight(rowHeight * kEntryRows);
    auto* entries = new QVBoxLayout(entriesGroup_);
    entries->addWidget(allEntries_);
    entries->addWidget(entryList_);

    folderEdit_->setReadOnly(true);
    originalPlaces_->setChecked(true);
    auto* target = new QGridLayout(targetGroup_);
    target->addWidget(originalPlaces_, 0, 0, 1, 3);
    target->addWidget(toFolder_, 1, 0);
    target->addWidget(folderEdit_, 1, 1);
    target->addWidget(browse_, 1, 2);
    target->setColumnStretch(1, 1);

    planList_->setColumnCount(3);
    planList_->setRootIsDecorated(false);
    planList_->setUniformRowHeights(true);
    // Long paths keep their file names in view.
    planList_->setTextElideMode(Qt::ElideMiddle);
    planList_->setSelectionMode(QAbstractItemView::NoSelection);
    planList_->setMinimumHeight(rowHeight * kPlanRows);
    planList_->header()->setStretchLastSection(false);
    planList_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    planList_->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    planList_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    auto* planBox = new QVBoxLayout(planGroup_);
    planBox->addWidget(planList_);
    planBox->addWidget(summary_);

    restore_->setDefault(true);
    restore_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(restore_);
    buttons->addWidget(close_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(entriesGroup_, 1);
    layout->addWidget(targetGroup_);
    layout->addWidget(overwrite_);
    layout->addWidget(planGroup_, 2);
    layout->addLayout(buttons);

    connect(allEntries_, &QCheckBox::toggled, this, &CRestoreDlg::OnAllToggled);
    connect(entryList_, &QListWidget::itemChanged, this, &CRestoreDlg::OnEntryChanged);
    connect(originalPlaces_, &QRadioButton::clicked, this, &CRestoreDlg::OnTargetChosen);
    connect(toFolder_, &QRadioButton::clicked, this, &CRestoreDlg::OnTargetChosen);
    connect(browse_, &QPushButton::clicked, this, &CRestoreDlg::OnBrowse);
    connect(overwrite_, &QCheckBox::toggled, this, &CRestoreDlg::RefreshPlan);
    connect(restore_, &QPushButton::clicked, this, &CRestoreDlg::OnRestore);
    connect(close_, &QPushButton::clicked, this, &CRestoreDlg::reject);
}

void CRestoreDlg::ApplyTexts() {
    auto text = [this](TextId id) { return DialogText(texts_, id); };
    setWindowTitle(text(TextId::RestoreTitle));
    entriesGroup_->setTitle(text(TextId::RestoreEntriesGroup));
    allEntries_->setText(text(TextId::RestoreAllEntries));
    targetGroup_->setTitle(text(TextId::RestoreTargetGroup));
    originalPlaces_->setText(text(TextId::RestoreToOriginalPlaces));
    toFolder_->setText(text(TextId::RestoreToFolder));
    browse_->setText(text(TextId::Browse));
    overwrite_->setText(text(TextId::RestoreOverwriteNewer));
    planGroup_->setTitle(text(TextId::RestorePlanGroup));
    planList_->setHeaderLabels({text(TextId::RestoreColumnAction), text(TextId::RestoreColumnFile),
                                text(TextId::RestoreColumnSize)});
    restore_->setText(text(TextId::RestoreButton));
    close_->setText(text(TextId::RestoreClose));
}

// Every entry but the exceptions, checked: the whole project is restored
// unless the user narrows it.
void CRestoreDlg::FillEntries() {
    fillingEntries_ = true;
    for (const std::string& entry : setup_.entries) {
        if (IsExceptionEntry(entry)) continue;
        entryPaths_.push_back(IsFolderEntry(entry) ? entry.substr(0, entry.size() - 4) : entry);
        auto* item = new QListWidgetItem(PathText(entry), entryList_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    allEntries_->setChecked(true);
    fillingEntries_ = false;
}

void CRestoreDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The first dry run reads the destination: the window is up before it starts.
    if (!planShown_) {
        planShown_ = true;
        QTimer::singleShot(0, this, &CRestoreDlg::RefreshPlan);
    }
}

void CRestoreDlg::OnAllToggled(bool checked) {
    if (fillingEntries_) return;
    fillingEntries_ = true;
    for (int row = 0; row < entryList_->count(); ++row)
        entryList_->item(row)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    fillingEntries_ = false;
    RefreshPlan();
}

void CRestoreDlg::OnEntryChanged() {
    if (fillingEntries_) return;
    bool all = true;
    for (int row = 0; row < entryList_->count(); ++row)
        all = all && entryList_->item(row)->checkState() == Qt::Checked;
    fillingEntries_ = true;
    allEntries_->setChecked(all);
    fillingEntries_ = false;
    RefreshPlan();
}

void CRestoreDlg::OnTargetChosen() {
    // A folder target needs a folder; without one chosen the restore stays
    // with the original places.
    if (toFolder_->isChecked() && folderEdit_->text().isEmpty()) return OnBrowse();
    RefreshPlan();
}

void CRestoreDlg::OnBrowse() {
    const std::optional<QString> folder =
        dialogs_.BrowseFolder(this, DialogText(texts_, TextId::RestoreChooseFolder));
    if (folder) {
        folderEdit_->setText(*folder);
        toFolder_->setChecked(true);
    } else if (folderEdit_->text().isEmpty()) {
        originalPlaces_->setChecked(true);
    }
    RefreshPlan();
}

RestoreRequest CRestoreDlg::Request() const {
    RestoreRequest request;
    if (toFolder_->isChecked()) request.targetFolder = PathBytes(folderEdit_->text());
    request.overwriteNewer = overwrite_->isChecked();
    if (!allEntries_->isChecked())
        for (int row = 0; row < entryList_->count(); ++row)
            if (entryList_->item(row)->checkState() == Qt::Checked)
                request.limitPaths.push_back(entryPaths_[static_cast<std::size_t>(row)]);
    return request;
}

void CRestoreDlg::RefreshPlan() {
    if (busy_) return;
    const RestoreRequest request = Request();
    std::vector<std::string> unreadable;
    plan_ = {};
    // A destination a run would refuse holds no copies to look for.
    if (const std::string problem = DestinationProblem(setup_.destination); !problem.empty())
        unreadable.push_back(problem);
    // No entry picked: no limit would mean all of them.
    else if (allEntries_->isChecked() || !request.limitPaths.empty()) {
        try {
            const QString planning = DialogText(texts_, TextId::RestorePlanning);
            RunOffTheWindow([&] { return planning; },
                            [&] {
                                CollectingReporter reporter;
                                Restorer restorer(setup_, reporter, settingsFolder_);
                                plan_ = restorer.Plan(request);
                                unreadable = std::move(reporter.errors);
                            });
        } catch (const std::exception& error) {
            unreadable.emplace_back(error.what());
        }
    }
    ShowPlan(unreadable);
}

void CRestoreDlg::ShowPlan(const std::vector<std::string>& unreadable) {
    planList_->clear();
    QList<QTreeWidgetItem*> rows;
    for (const std::string& problem : unreadable)
        rows.append(new QTreeWidgetItem(
            QStringList{DialogText(texts_, TextId::RestoreActionUnreadable), PathText(problem)}));
    for (const RestoreItem& item : plan_.items) {
        const bool missing = item.action == RestoreAction::Missing;
        auto* row = new QTreeWidgetItem(
            QStringList{QString::fromUtf8(ActionText(texts_, item.action)),
                        PathText(missing ? item.original : item.target),
                        missing ? QString() : QString::fromStdString(SizeText(item.size))});
        row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        row->setToolTip(1, PathText(item.backupCopy));
        rows.append(row);
    }
    planList_->addTopLevelItems(rows);
    summary_->setText(QString::fromUtf8(PlanSummaryText(texts_, plan_)));
    restore_->setEnabled(plan_.Count(RestoreAction::Restore) > 0);
}

void CRestoreDlg::OnRestore() {
    const std::size_t count = plan_.Count(RestoreAction::Restore);
    if (busy_ || count == 0) return;
    const QString question = QString::fromUtf8(
        FormatText(texts_.GetText(TextId::RestoreConfirm), static_cast<std::int64_t>(count)));
    if (dialogs_.ShowMessage(this, question, DialogText(texts_, TextId::MessageCaption),
                             Dialogs::Buttons::YesNo, Dialogs::Icon::Question) != Dialogs::Answer::Yes)
        return;

    // Planned afresh: a file changed since the dry run is judged as it is now.
    const RestoreRequest request = Request();
    RestoreOutcome outcome;
    std::atomic<std::size_t> restoredSoFar = 0;
    const QString restoring = DialogText(texts_, TextId::RestoreRunning);
    const auto status = [&] {
        return restoring + QStringLiteral("  %1 / %2").arg(restoredSoFar.load()).arg(count);
    };
    try {
        RunOffTheWindow(status, [&] {
            CollectingReporter reporter;
            Restorer restorer(setup_, reporter, settingsFolder_);
            const RestorePlan plan = restorer.Plan(request);
            outcome.bytes = restorer.CarryOut(plan, [&](const RestoreItem&) { ++restoredSoFar; });
            outcome.restored = restoredSoFar;
            outcome.skipped = plan.Count(RestoreAction::SkipNewer);
            outcome.missing = plan.Count(RestoreAction::Missing);
            outcome.failures = std::move(reporter.errors);
        });
    } catch (const std::exception& error) {
        outcome.failures.emplace_back(error.what());
    }
    outcome_ = std::move(outcome);
    accept();
}

void CRestoreDlg::RunOffTheWindow(const std::function<QString()>& status, const std::function<void()>& work) {
    SetBusy(true);
    summary_->setText(status());
    QTimer statusTimer;
    connect(&statusTimer, &QTimer::timeout, this, [&] { summary_->setText(status()); });
    statusTimer.start(kStatusPeriodMs);
    std::exception_ptr failure;
    QEventLoop loop;
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    // Emitted on the worker's thread, so it reaches the loop once it runs.
    connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    thread->start();
    loop.exec();
    thread->wait();
    SetBusy(false);
    if (failure) std::rethrow_exception(failure);
}

void CRestoreDlg::SetBusy(bool busy) {
    busy_ = busy;
    for (QWidget* control :
         std::initializer_list<QWidget*>{entriesGroup_, targetGroup_, overwrite_, restore_, close_})
        control->setEnabled(!busy);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

// Closing waits for the work in progress: its thread uses this dialog's state.
void CRestoreDlg::reject() {
    if (!busy_) QDialog::reject();
}
