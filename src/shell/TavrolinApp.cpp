#include "shell/TavrolinApp.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QKeySequence>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

#include <algorithm>

#include "engine/FFmpegProcessor.h"
#include "engine/JobLeftovers.h"
#include "process/AbandonedWork.h"
#include "process/FoundationProcessRunner.h"
#include "queue/JobQueueViewModel.h"
#include "shell/AppUpdater.h"
#include "shell/DesktopFileRevealer.h"
#include "shell/QtPreferencesStore.h"
#include "shell/RootView.h"
#include "shell/ScrollAreaAccessible.h"
#include "shell/SettingsView.h"
#include "shell/SettingsViewModel.h"
#include "shell/SupportLinks.h"
#include "widgets/AppStyle.h"
#include "widgets/FilePanels.h"

#ifndef TAVROLIN_APPCAST_URL
#define TAVROLIN_APPCAST_URL ""
#endif

namespace tavrolin {

MainWindow::MainWindow(JobQueueViewModel& queue, std::shared_ptr<PreferencesStore> preferences,
                       AppUpdater& updater, std::function<bool(const QUrl&)> openURL,
                       QWidget* parent)
    : QMainWindow(parent), openURL_(std::move(openURL)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Tavrolin"));
    setMinimumSize(920, 640);
    resize(1100, 720);
    rootView_ = new RootView(queue, std::move(preferences), this);
    setCentralWidget(rootView_);
    connect(rootView_, &RootView::settingsRequested, this, &MainWindow::settingsRequested);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* settings = file->addAction(QStringLiteral("Settings…"));
    settings->setObjectName(QStringLiteral("settingsAction"));
    settings->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    settings->setMenuRole(QAction::PreferencesRole);
    connect(settings, &QAction::triggered, this, &MainWindow::settingsRequested);
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("Quit"));
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* support = help->addAction(QStringLiteral("Tavrolin Support"));
    support->setObjectName(QStringLiteral("supportAction"));
    connect(support, &QAction::triggered, this,
            [this] { openSupportLink(supportPageURL(), openURL_, this); });
    QAction* feedback = help->addAction(QStringLiteral("Send Feedback…"));
    feedback->setObjectName(QStringLiteral("feedbackAction"));
    // Built anew, so the facts are current.
    connect(feedback, &QAction::triggered, this,
            [this] { openSupportLink(makeFeedbackMailURL(), openURL_, this); });
    checkForUpdates_ = help->addAction(QStringLiteral("Check for Updates…"));
    checkForUpdates_->setObjectName(QStringLiteral("checkForUpdatesAction"));
    connect(checkForUpdates_, &QAction::triggered, &updater, &AppUpdater::checkForUpdates);
    auto followUpdater = [this, &updater] {
        checkForUpdates_->setEnabled(updater.canCheckForUpdates());
    };
    connect(&updater, &AppUpdater::changed, this, followUpdater);
    followUpdater();
    help->addSeparator();
    QAction* about = help->addAction(QStringLiteral("About Tavrolin"));
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::showAbout() {
    const FeedbackFacts facts = currentFeedbackFacts();
    const QString text = QStringLiteral(
                             "<h3>Tavrolin</h3><p>Version %1 (%2)</p><p><a href=\"%3\">Tavrolin "
                             "Support</a></p>")
                             .arg(facts.version->toHtmlEscaped(), facts.build->toHtmlEscaped(),
                                  supportPageURL().toString(QUrl::FullyEncoded).toHtmlEscaped());
    QMessageBox::about(this, QStringLiteral("About Tavrolin"), text);
}

TavrolinApp::Configuration TavrolinApp::standardConfiguration() {
    Configuration configuration;
    configuration.preferences = std::make_shared<QtPreferencesStore>();
    configuration.revealer = std::make_shared<DesktopFileRevealer>();
    configuration.appcastURL = QUrl(QStringLiteral(TAVROLIN_APPCAST_URL));
    configuration.downloadFolder =
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    configuration.openURL = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    configuration.jobRecords = JobRecord::defaultFolder();
    return configuration;
}

TavrolinApp::TavrolinApp(Configuration configuration, QObject* parent)
    : QObject(parent), configuration_(std::move(configuration)) {
    // Before any window: a screen reader must never read past a scroll area's children.
    installScrollAreaAccessibility();
    // The one runner and processor that run queued jobs; every other service has its own.
    processor_ = std::make_shared<FFmpegProcessor>(
        std::make_shared<FoundationProcessRunner>(),
        ToolLocations::standard(configuration_.preferences), configuration_.jobRecords);
    queue_ = std::make_unique<JobQueueViewModel>(processor_, configuration_.revealer);
    if (!configuration_.jobRecords.empty()) {
        queue_->removeLeftoversOfEarlierRuns(configuration_.jobRecords);
    }

    UpdateController::Configuration updates;
    updates.feedURL = configuration_.appcastURL;
    updates.currentVersion = QStringLiteral(TAVROLIN_VERSION);
    updates.settings = configuration_.preferences;
    updates.downloadFolder = configuration_.downloadFolder;
    updater_ = std::make_unique<AppUpdater>(updates, configuration_.startsUpdater);
    connect(updater_->controller(), &UpdateController::checkFinished, this,
            &TavrolinApp::presentUpdateReport);

    // Each page's file dialogs open where they were last left, across runs.
    rememberPanelFoldersIn(configuration_.preferences);
    mainWindow_ =
        new MainWindow(*queue_, configuration_.preferences, *updater_, configuration_.openURL);
    mainWindow_->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(mainWindow_, &MainWindow::settingsRequested, this, &TavrolinApp::showSettings);
}

TavrolinApp::~TavrolinApp() {
    // Windows before the queue and the updater they observe.
    delete settingsView_;
    delete mainWindow_;
    rememberPanelFoldersIn(nullptr);
}

SettingsView* TavrolinApp::showSettings() {
    if (!settingsView_) {
        SettingsViewModel::Dependencies dependencies;
        dependencies.preferences = configuration_.preferences;
        dependencies.locations = ToolLocations::standard(configuration_.preferences);
        dependencies.runner = std::make_shared<FoundationProcessRunner>();
        dependencies.openURL = configuration_.openURL;
        const QDir prefix(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
        dependencies.bundledNotice = toPath(
            prefix.absoluteFilePath(QStringLiteral("share/tavrolin/Notices/FFmpeg-LICENSE.md")));
        auto* model = new SettingsViewModel(std::move(dependencies));
        settingsView_ = new SettingsView(
            model, updater_.get(), configuration_.openURL,
            [this] { return chooseFFmpegExecutable(settingsView_); }, mainWindow_);
        model->setParent(settingsView_);
        settingsView_->setWindowFlag(Qt::Window);
        // Closing the main window quits even while the settings window is open.
        settingsView_->setAttribute(Qt::WA_QuitOnClose, false);
    }
    settingsView_->show();
    settingsView_->raise();
    settingsView_->activateWindow();
    return settingsView_;
}

SettingsView* TavrolinApp::settingsView() const {
    return settingsView_;
}

bool TavrolinApp::shutdown(std::chrono::milliseconds timeout) {
    const auto start = std::chrono::steady_clock::now();
    const bool jobEnded = queue_->shutdown(timeout);
    // The pages go now: each stops its tasks and leaves what a hung folder holds. Work that is
    // only ending (a stopped transcription removing its working folder) gets a moment.
    delete settingsView_;
    delete mainWindow_;
    updater_->controller()->stop();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        timeout - (std::chrono::steady_clock::now() - start));
    AbandonedWork::settle(std::clamp(left, std::chrono::milliseconds(0), settleAtQuit));
    return jobEnded;
}

void TavrolinApp::presentUpdateReport(const UpdateCheckReport& report) {
    auto* box = new QMessageBox(mainWindow_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Software Update"));
    box->setIcon(report.kind == UpdateCheckReport::Kind::failed ? QMessageBox::Warning
                                                                : QMessageBox::Information);
    box->setTextFormat(Qt::PlainText);
    box->setText(report.title());
    // The informative text would be guessed as rich text, and it carries the feed's own words:
    // escaped, a version such as "<a href=...>" shows as written and links nowhere.
    box->setInformativeText(QStringLiteral("<p>") + report.informativeText().toHtmlEscaped() +
                            QStringLiteral("</p>"));
    box->setStandardButtons(QMessageBox::Close);
    if (report.kind == UpdateCheckReport::Kind::updateAvailable && report.release &&
        report.release->releaseNotesURL.isValid()) {
        QPushButton* open = box->addButton(QStringLiteral("Open Page"), QMessageBox::AcceptRole);
        const QUrl page = report.release->releaseNotesURL;
        connect(open, &QPushButton::clicked, this, [this, page] {
            if (configuration_.openURL) {
                configuration_.openURL(page);
            }
        });
    }
    box->open();
}

}  // namespace tavrolin
