#include "shell/SettingsView.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

#include "shell/AppUpdater.h"
#include "shell/SettingsModelServer.h"
#include "shell/SettingsViewModel.h"
#include "shell/SupportLinks.h"
#include "widgets/AppStyle.h"
#include "widgets/ElidedLabel.h"
#include "widgets/SymbolIcons.h"
#include "widgets/WrappingLabel.h"

namespace tavrolin {

namespace {

QPushButton* linkButton(const QString& text, const QString& symbol, const QString& accessibleName,
                        QWidget* parent) {
    auto* button = new QPushButton(symbolIcon(symbol), text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setAccessibleName(accessibleName);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, accentColor(palette));
    button->setPalette(palette);
    return button;
}

}  // namespace

SettingsView::SettingsView(SettingsViewModel* viewModel, AppUpdater* updater, URLOpener openURL,
                           ExecutableChooser chooseExecutable, QWidget* parent)
    : QWidget(parent),
      viewModel_(viewModel),
      updater_(updater),
      openURL_(std::move(openURL)),
      chooseExecutable_(std::move(chooseExecutable)) {
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(620, 600);
    // Escape and Ctrl+W close it, with the platform's own close keys; one shortcut holds them
    // all, since a key bound twice would be ambiguous and do nothing.
    QList<QKeySequence> closeKeys{QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)};
    for (const QKeySequence& keys : QKeySequence::keyBindings(QKeySequence::Close)) {
        if (!closeKeys.contains(keys)) {
            closeKeys.append(keys);
        }
    }
    auto* close = new QShortcut(this);
    close->setKeys(closeKeys);
    close->setContext(Qt::WindowShortcut);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(8, 8, 8, 8);

    // FFmpeg
    auto* ffmpeg = new QGroupBox(QStringLiteral("FFmpeg"), this);
    auto* ffmpegForm = new QFormLayout(ffmpeg);
    auto* statusRow = new QHBoxLayout;
    statusIcon_ = new QLabel(ffmpeg);
    statusRow->addWidget(statusIcon_, 0, Qt::AlignTop);
    status_ = new QLabel(ffmpeg);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    statusRow->addWidget(status_, 1);
    ffmpegForm->addRow(QStringLiteral("Status"), statusRow);
    customLocation_ = new ElidedLabel(ffmpeg);
    customLocation_->setObjectName(QStringLiteral("customLocation"));
    customLocation_->setTextColor(secondaryTextColor(palette()));
    ffmpegForm->addRow(QStringLiteral("Custom location"), customLocation_);
    auto* buttons = new QHBoxLayout;
    auto* choose = new QPushButton(QStringLiteral("Choose ffmpeg…"), ffmpeg);
    choose->setObjectName(QStringLiteral("chooseFFmpeg"));
    connect(choose, &QPushButton::clicked, this, &SettingsView::chooseFFmpeg);
    buttons->addWidget(choose);
    useAutomatic_ = new QPushButton(QStringLiteral("Use Automatic Location"), ffmpeg);
    useAutomatic_->setObjectName(QStringLiteral("useAutomaticLocation"));
    connect(useAutomatic_, &QPushButton::clicked, viewModel_,
            &SettingsViewModel::useAutomaticLocation);
    buttons->addWidget(useAutomatic_);
    buttons->addStretch(1);
    auto* checkAgain = new QPushButton(QStringLiteral("Check Again"), ffmpeg);
    checkAgain->setObjectName(QStringLiteral("checkAgain"));
    connect(checkAgain, &QPushButton::clicked, viewModel_, &SettingsViewModel::refreshStatus);
    buttons->addWidget(checkAgain);
    ffmpegForm->addRow(buttons);
    // A chosen file while it is checked, and why it was refused.
    choiceNote_ = new WrappingLabel(QString(), ffmpeg);
    choiceNote_->setObjectName(QStringLiteral("choiceNote"));
    choiceNote_->setMaximumLineCount(3);
    choiceNote_->hide();
    ffmpegForm->addRow(choiceNote_);
    page->addWidget(ffmpeg);

    // Licence
    auto* licence = new QGroupBox(this);
    auto* licenceLayout = new QVBoxLayout(licence);
    licenseNotice_ = secondaryLabel();
    licenseNotice_->setObjectName(QStringLiteral("licenseNotice"));
    licenseNotice_->setWordWrap(true);
    licenceLayout->addWidget(licenseNotice_);
    auto* openLicense = new QPushButton(QStringLiteral("Open FFmpeg License"), licence);
    openLicense->setObjectName(QStringLiteral("openFFmpegLicense"));
    connect(openLicense, &QPushButton::clicked, viewModel_, &SettingsViewModel::openFFmpegLicense);
    licenceLayout->addWidget(openLicense, 0, Qt::AlignLeft);
    page->addWidget(licence);
    page->addWidget(makeModelServerSection());

    // Updates
    auto* updates = new QGroupBox(QStringLiteral("Updates"), this);
    auto* updatesLayout = new QVBoxLayout(updates);
    automaticChecks_ = new QCheckBox(QStringLiteral("Automatically check for updates"), updates);
    automaticChecks_->setObjectName(QStringLiteral("automaticallyChecks"));
    connect(automaticChecks_, &QCheckBox::clicked, this, [this](bool checked) {
        updater_->controller()->setAutomaticallyChecksForUpdates(checked);
        render();  // the box shows the stored value until the updater reports the change
    });
    updatesLayout->addWidget(automaticChecks_);
    automaticDownloads_ = new QCheckBox(QStringLiteral("Automatically download updates"), updates);
    automaticDownloads_->setObjectName(QStringLiteral("automaticallyDownloads"));
    connect(automaticDownloads_, &QCheckBox::clicked, this, [this](bool checked) {
        updater_->controller()->setAutomaticallyDownloadsUpdates(checked);
        render();
    });
    updatesLayout->addWidget(automaticDownloads_);
    checkForUpdates_ = new QPushButton(QStringLiteral("Check for Updates…"), updates);
    checkForUpdates_->setObjectName(QStringLiteral("checkForUpdates"));
    connect(checkForUpdates_, &QPushButton::clicked, updater_, &AppUpdater::checkForUpdates);
    updatesLayout->addWidget(checkForUpdates_, 0, Qt::AlignLeft);
    page->addWidget(updates);

    // Support
    auto* support = new QGroupBox(QStringLiteral("Support"), this);
    auto* supportForm = new QFormLayout(support);
    auto* supportLink =
        linkButton(QStringLiteral("Tavrolin Support"), QStringLiteral("questionmark.circle"),
                   QStringLiteral("Open Tavrolin Support"), support);
    supportLink->setObjectName(QStringLiteral("supportLink"));
    connect(supportLink, &QPushButton::clicked, this,
            [this] { openSupportLink(supportPageURL(), openURL_, this); });
    auto* feedbackLink = linkButton(QStringLiteral("Send Feedback…"), QStringLiteral("envelope"),
                                    QStringLiteral("Send Feedback by Email"), support);
    feedbackLink->setObjectName(QStringLiteral("feedbackLink"));
    connect(feedbackLink, &QPushButton::clicked, this,
            [this] { openSupportLink(makeFeedbackMailURL(), openURL_, this); });
    auto* links = new QHBoxLayout;
    links->addWidget(supportLink);
    links->addWidget(feedbackLink);
    links->addStretch(1);
    supportForm->addRow(links);
    auto* email = new QLabel(supportEmailAddress(), support);
    email->setObjectName(QStringLiteral("email"));
    email->setTextFormat(Qt::PlainText);
    email->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    supportForm->addRow(QStringLiteral("Email"), email);
    page->addWidget(support);
    page->addStretch(1);

    connect(viewModel_, &SettingsViewModel::changed, this, &SettingsView::render);
    connect(updater_, &AppUpdater::changed, this, &SettingsView::render);
    connect(viewModel_->modelServer(), &SettingsModelServer::changed, this,
            &SettingsView::renderModelServer);
    render();
    renderModelServer();
}

QWidget* SettingsView::makeModelServerSection() {
    auto* section = new QGroupBox(QStringLiteral("Local Model Server"), this);
    auto* form = new QFormLayout(section);
    SettingsModelServer* server = viewModel_->modelServer();
    serverAddress_ = new QLineEdit(server->address(), section);
    serverAddress_->setObjectName(QStringLiteral("modelServerAddress"));
    serverAddress_->setAccessibleName(QStringLiteral("Model server address"));
    serverAddress_->setPlaceholderText(server->addressPlaceholder());
    // Any change counts (typed, pasted, dropped or set by an accessibility interface); the view
    // never sets these fields itself after making them.
    connect(serverAddress_, &QLineEdit::textChanged, server, &SettingsModelServer::setAddress);
    // The problem sits under the field and takes no room while there is none.
    auto* addressColumn = new QVBoxLayout;
    addressColumn->setSpacing(2);
    addressColumn->addWidget(serverAddress_);
    form->addRow(QStringLiteral("Address"), addressColumn);
    addressProblem_ = secondaryLabel();
    addressProblem_->setObjectName(QStringLiteral("modelServerAddressProblem"));
    addressProblem_->setWordWrap(true);
    setTextColor(addressProblem_, tint::orange());
    addressColumn->addWidget(addressProblem_);
    serverModel_ = new QLineEdit(server->model(), section);
    serverModel_->setObjectName(QStringLiteral("modelServerModel"));
    serverModel_->setAccessibleName(QStringLiteral("Model name"));
    serverModel_->setPlaceholderText(server->modelPlaceholder());
    connect(serverModel_, &QLineEdit::textChanged, server, &SettingsModelServer::setModel);
    form->addRow(QStringLiteral("Model"), serverModel_);
    serverStatus_ = secondaryLabel();
    serverStatus_->setObjectName(QStringLiteral("modelServerStatus"));
    serverStatus_->setWordWrap(true);
    form->addRow(QString(), serverStatus_);
    return section;
}

void SettingsView::renderModelServer() {
    const SettingsModelServer* server = viewModel_->modelServer();
    const QString problem = server->addressProblem();
    addressProblem_->setText(problem);
    addressProblem_->setVisible(!problem.isEmpty());
    serverAddress_->setAccessibleDescription(problem);
    const QString status = server->serverStatus();
    serverStatus_->setText(status);
    serverStatus_->setVisible(!status.isEmpty());
    const bool answers = server->state() == SettingsModelServer::State::listsModel;
    setTextColor(serverStatus_, answers ? tint::green() : secondaryTextColor(palette()));
}

QPoint windowPositionInside(const QRect& over, const QSize& frameSize, const QRect& available) {
    const auto place = [](int centre, int size, int low, int high) {
        return std::max(low, std::min(centre - size / 2, high - size));
    };
    return {place(over.center().x(), frameSize.width(), available.left(), available.right() + 1),
            place(over.center().y(), frameSize.height(), available.top(), available.bottom() + 1)};
}

namespace {

QMargins decoration(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
}

}  // namespace

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Over the main window, not wherever the window manager puts a new window, and inside the
    // screen: centred over a main window that fills a small screen, the title bar would sit
    // above its top edge.
    if (const QWidget* parent = parentWidget()) {
        const QWidget* main = parent->window();
        // Before its first showing the window manager has not framed it yet; it frames it as
        // it framed the main window.
        QMargins frame = decoration(this);
        if (frame.isNull()) {
            frame = decoration(main);
        }
        const QRect available = main->screen()->availableGeometry();
        move(windowPositionInside(main->frameGeometry(), size().grownBy(frame), available));
    }
}

void SettingsView::chooseFFmpeg() {
    if (!chooseExecutable_) {
        return;
    }
    if (auto chosen = chooseExecutable_()) {
        viewModel_->chooseFFmpeg(*chosen);
    }
}

void SettingsView::render() {
    const bool available = viewModel_->isAvailable();
    const bool checking = viewModel_->isChecking();
    const QColor color = checking    ? secondaryTextColor(palette())
                         : available ? tint::green()
                                     : tint::orange();
    statusIcon_->setPixmap(tintedSymbolIcon(checking ? QStringLiteral("clock")
                                            : available
                                                ? QStringLiteral("checkmark.circle.fill")
                                                : QStringLiteral("exclamationmark.triangle.fill"),
                                            color)
                               .pixmap(16, 16));
    status_->setText(viewModel_->status());
    setTextColor(status_, color);
    status_->setMaximumHeight(status_->fontMetrics().lineSpacing() * 2 + 2);
    const QString custom = viewModel_->customPath();
    customLocation_->setText(custom.isEmpty() ? QStringLiteral("Automatic") : custom);
    useAutomatic_->setEnabled(!custom.isEmpty());
    licenseNotice_->setText(viewModel_->licenseNotice());
    const QString note = viewModel_->choiceNote();
    const bool refused = viewModel_->choiceRefused();
    if (choiceNote_->text() != note) {
        choiceNote_->setText(note);
        choiceNote_->setToolTip(plainToolTip(note));
    }
    choiceNote_->setVisible(!note.isEmpty());
    setTextColor(choiceNote_, refused ? tint::orange() : secondaryTextColor(palette()));

    automaticChecks_->setChecked(updater_->automaticallyChecksForUpdates());
    automaticDownloads_->setChecked(updater_->automaticallyDownloadsUpdates());
    automaticDownloads_->setEnabled(updater_->automaticallyChecksForUpdates());
    checkForUpdates_->setEnabled(updater_->canCheckForUpdates());
}

}  // namespace tavrolin
