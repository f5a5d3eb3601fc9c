#include "shell/RootView.h"

#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QSplitter>
#include <QStackedWidget>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "engine/FFmpegPreviewService.h"
#include "joinsplit/JoinView.h"
#include "joinsplit/JoinViewModel.h"
#include "joinsplit/SplitView.h"
#include "joinsplit/SplitViewModel.h"
#include "planning/LanguageModelRemuxIntentParser.h"
#include "planning/LanguageModelServerSettings.h"
#include "planning/LocalServerLanguageModel.h"
#include "planning/RemuxPlanVocabulary.h"
#include "probe/FFprobeService.h"
#include "process/FoundationProcessRunner.h"
#include "process/StartupGate.h"
#include "queue/JobQueueViewModel.h"
#include "remux/RemuxView.h"
#include "remux/RemuxViewModel.h"
#include "rename/BatchRenamer.h"
#include "rename/RenameView.h"
#include "rename/RenameViewModel.h"
#include "shell/MainNavigationSidebar.h"
#include "shell/QueueView.h"
#include "transcription/LanguageModelConversationSummarizer.h"
#include "transcription/LocalMediaTranscriptionService.h"
#include "transcription/PreparedConversationSummarizer.h"
#include "transcription/SpeechRecognizerModule.h"
#include "transcription/TranscriptionView.h"
#include "transcription/TranscriptionViewModel.h"
#include "widgets/AppStyle.h"
#include "widgets/FilePanels.h"
#include "widgets/GuardedTask.h"

namespace tavrolin {

namespace {

// A workspace page over one view model and its view, which offers the media-file panel. The
// view goes first when the page goes: it observes the view model.
template <typename Model, typename View>
class ModelWorkspacePage : public WorkspacePage {
  public:
    ModelWorkspacePage(std::unique_ptr<Model> viewModel, const char* page, QWidget* window)
        : viewModel_(std::move(viewModel)), view_(new View(*viewModel_)) {
        view_->setMediaFileChooser([page, window] { return chooseMediaFiles(page, true, window); });
    }
    ~ModelWorkspacePage() override { delete view_; }

    Model& viewModel() const { return *viewModel_; }
    QWidget* view() const override { return view_; }
    bool addFiles(const std::vector<std::filesystem::path>& files) override {
        return viewModel_->addFiles(files);
    }

  protected:
    std::unique_ptr<Model> viewModel_;
    QPointer<View> view_;
};

// Every service that runs tools has a runner of its own.
std::shared_ptr<FFprobeService> probingService(const ToolLocations& locations) {
    return std::make_shared<FFprobeService>(std::make_shared<FoundationProcessRunner>(), locations);
}

// Remux: its view model with a probing service that has a runner of its own, and the intent
// parser of the configured local model server.
class RemuxWorkspacePage : public QObject, public ModelWorkspacePage<RemuxViewModel, RemuxView> {
  public:
    RemuxWorkspacePage(JobQueueViewModel& queue, const ToolLocations& locations,
                       std::shared_ptr<PreferencesStore> preferences, QWidget* window)
        : ModelWorkspacePage(std::make_unique<RemuxViewModel>(queue, probingService(locations)),
                             "remux", window),
          preferences_(std::move(preferences)) {
        viewModel_->setInstalledFFmpeg(std::make_shared<InstalledFFmpeg>(
            std::make_shared<FoundationProcessRunner>(), locations));
        viewModel_->setFolderChooser([window](const std::optional<std::filesystem::path>& start) {
            return chooseOutputFolder("remux", start, window);
        });
        refreshIntentParser();
        // The settings may have been edited meanwhile: read them again on coming back.
        connect(qApp, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) {
                    if (state == Qt::ApplicationActive) {
                        refreshIntentParser();
                    }
                });
        // Coming back from the Settings window is no change of application state.
        connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
            if (window) {
                refreshIntentParser();
            }
        });
    }

    // A new parser whenever the language-model settings differ from those last read. A server
    // is asked for its models on a worker; until it answers, drafts count as not ready.
    void refreshIntentParser() {
        auto settings = preferences_
                            ? LanguageModelServerSettings::read(
                                  *preferences_, LanguageModelServerSettings::processEnvironment)
                            : std::nullopt;
        if (hasReadSettings_ && settings == settings_) {
            return;
        }
        hasReadSettings_ = true;
        settings_ = settings;
        auto model = std::make_shared<LocalServerLanguageModel>(settings);
        const std::uint64_t generation = ++parserGeneration_;
        if (!settings) {
            viewModel_->setIntentParser(std::make_shared<LanguageModelRemuxIntentParser>(model));
            return;
        }
        viewModel_->setIntentParser(std::make_shared<LanguageModelRemuxIntentParser>(
            model, LanguageModelAvailability{LanguageModelAvailability::Reason::modelNotReady}));
        runGuardedTask(
            this, availabilityPool_,
            [model]() -> std::shared_ptr<RemuxIntentParsing> {
                StartupGate::wait();
                return std::make_shared<LanguageModelRemuxIntentParser>(model);
            },
            [generation](RemuxWorkspacePage& page, std::shared_ptr<RemuxIntentParsing> parser) {
                if (generation == page.parserGeneration_) {
                    page.viewModel_->setIntentParser(std::move(parser));
                }
            });
    }

  private:
    std::shared_ptr<PreferencesStore> preferences_;
    bool hasReadSettings_ = false;
    std::optional<LanguageModelServerSettings> settings_;
    std::uint64_t parserGeneration_ = 0;
    // Destroyed first: waits for a running check (at most its 2 s timeout).
    QThreadPool availabilityPool_;
};

// Join: its view model with a probing service.
std::unique_ptr<WorkspacePage> makeJoinPage(JobQueueViewModel& queue,
                                            const ToolLocations& locations, QWidget* window) {
    auto page = std::make_unique<ModelWorkspacePage<JoinViewModel, JoinView>>(
        std::make_unique<JoinViewModel>(queue, probingService(locations)), "join", window);
    page->viewModel().setInstalledFFmpeg(
        std::make_shared<InstalledFFmpeg>(std::make_shared<FoundationProcessRunner>(), locations));
    page->viewModel().setOutputFileChooser(
        [window](const std::string& name, OutputContainer container,
                 const std::optional<std::filesystem::path>& start) {
            return chooseOutputFile("join", name, container, start, window);
        });
    return page;
}

// Split: its view model with a preview service, a keyframe reader and a stream reader that have
// runners of their own.
std::unique_ptr<WorkspacePage> makeSplitPage(JobQueueViewModel& queue,
                                             const ToolLocations& locations, QWidget* window) {
    auto page = std::make_unique<ModelWorkspacePage<SplitViewModel, SplitView>>(
        std::make_unique<SplitViewModel>(
            queue,
            std::make_shared<FFmpegPreviewService>(std::make_shared<FoundationProcessRunner>(),
                                                   locations),
            makeSplitKeyframeReader(),
            makeSplitStreamReader(std::make_shared<FoundationProcessRunner>(), locations)),
        "split", window);
    page->viewModel().setFolderChooser([window](const std::optional<std::filesystem::path>& start) {
        return chooseOutputFolder("split", start, window);
    });
    return page;
}

// Sequence Rename: its view model with a renamer on the local file system that records its
// unfinished renames for the next start (the record is read when the page is first shown).
std::unique_ptr<WorkspacePage> makeRenamePage(QWidget* window) {
    return std::make_unique<ModelWorkspacePage<RenameViewModel, RenameView>>(
        std::make_unique<RenameViewModel>(std::make_shared<BatchRenamer>(
            std::make_shared<LocalFileManager>(), RenamePlanner{},
            std::make_shared<RenamesInProgress>(RenamesInProgress::defaultFile()))),
        "rename", window);
}

// Transcribe: its view model with a probing and a transcription service that each have a runner
// of their own, the exporter, and a summariser over the configured local model server (without
// a server it reports itself unavailable). The server is asked on a worker; until it answers,
// summaries count as not ready. Drops go to `addSources`.
class TranscriptionWorkspacePage : public WorkspacePage {
  public:
    TranscriptionWorkspacePage(JobQueueViewModel& queue, const ToolLocations& locations,
                               std::shared_ptr<PreferencesStore> preferences,
                               std::shared_ptr<PreviewPreparing> previewService, QWidget* window) {
        const auto settings =
            preferences ? LanguageModelServerSettings::read(
                              *preferences, LanguageModelServerSettings::processEnvironment)
                        : std::nullopt;
        std::shared_ptr<ConversationSummarizing> summarizer;
        if (settings) {
            auto prepared = std::make_shared<PreparedConversationSummarizer>(
                LanguageModelConversationSummarizer::availabilityFor(
                    LanguageModelAvailability{LanguageModelAvailability::Reason::modelNotReady}));
            summarizerPool_.start([prepared, settings] {
                StartupGate::wait();
                prepared->prepare(std::make_shared<LanguageModelConversationSummarizer>(
                    std::make_shared<LocalServerLanguageModel>(settings)));
            });
            summarizer = prepared;
        } else {
            summarizer = std::make_shared<LanguageModelConversationSummarizer>(nullptr);
        }
        TranscriptionViewModel::Services services{
            probingService(locations),
            std::make_shared<LocalMediaTranscriptionService>(
                std::make_shared<FoundationProcessRunner>(),
                std::make_shared<ModuleSpeechRecognizer>(), locations),
            std::move(summarizer), std::make_shared<SubtitleFileExporter>(), preferences};
        // The save panels sit on the window, as the other workspaces' do.
        TranscriptionViewModel::Panels panels{
            [window](const std::string& name, OutputContainer container,
                     const std::optional<std::filesystem::path>& start) {
                return chooseOutputFile("transcribe", name, container, start, window);
            },
            [window](const std::string& name, SubtitleFileFormat format,
                     const std::optional<std::filesystem::path>& start) {
                return chooseSubtitleExportFile("transcribe", name, format, start, window);
            }};
        viewModel_ =
            std::make_unique<TranscriptionViewModel>(std::move(services), queue, std::move(panels));
        view_ = new TranscriptionView(*viewModel_, queue, std::move(previewService));
        view_->setMediaFileChooser(
            [window] { return chooseMediaFiles("transcribe", true, window); });
    }
    // The view goes first: it observes the view model.
    ~TranscriptionWorkspacePage() override { delete view_; }

    QWidget* view() const override { return view_; }
    bool addFiles(const std::vector<std::filesystem::path>& files) override {
        return viewModel_->addSources(files);
    }

  private:
    std::unique_ptr<TranscriptionViewModel> viewModel_;
    QPointer<TranscriptionView> view_;
    // Destroyed first: waits for a running check (at most its 2 s timeout).
    QThreadPool summarizerPool_;
};

class QueueWorkspacePage : public WorkspacePage {
  public:
    explicit QueueWorkspacePage(JobQueueViewModel& queue) : view_(new QueueView(&queue)) {}
    ~QueueWorkspacePage() override { delete view_; }

    QWidget* view() const override { return view_; }
    bool addFiles(const std::vector<std::filesystem::path>&) override { return false; }

  private:
    QPointer<QueueView> view_;
};

// The dashed highlight over the window while files are dragged over it.
class DropOverlay : public QWidget {
  public:
    explicit DropOverlay(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("dropOverlay"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor tint = accentColor(palette());
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(8, 8, -8, -8), 14, 14);
        QColor fill = tint;
        fill.setAlphaF(0.06f);
        painter.fillPath(shape, fill);
        QPen pen(tint, 3, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        pen.setDashPattern({8.0 / 3.0, 6.0 / 3.0});  // in units of the pen width
        painter.strokePath(shape, pen);
    }
};

// Only drags that bring local files are taken (and highlighted); a dragged web link or a file
// of another host is not.
bool carriesLocalFiles(const QMimeData& data) {
    const QList<QUrl> urls = data.urls();
    return std::any_of(urls.begin(), urls.end(),
                       [](const QUrl& url) { return localFilePath(url).has_value(); });
}

}  // namespace

RootView::RootView(JobQueueViewModel& queue, std::shared_ptr<PreferencesStore> preferences,
                   QWidget* parent)
    : QWidget(parent), queue_(queue), workspaceSelectionStore_(preferences) {
    setObjectName(QStringLiteral("rootView"));
    setAcceptDrops(true);
    const ToolLocations locations = ToolLocations::standard(preferences);
    transcriptionPreviewService_ = std::make_shared<FFmpegPreviewService>(
        std::make_shared<FoundationProcessRunner>(), locations);
    selection_ = workspaceSelectionStore_.restoredSection();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    sidebar_ = new MainNavigationSidebar(splitter_);
    detail_ = new QStackedWidget(splitter_);
    detail_->setObjectName(QStringLiteral("detail"));
    // Whatever a page holds, the sidebar keeps the width it has: the splitter would otherwise
    // take a wide page's room from the sidebar. Pages fit the window's least width themselves.
    detail_->setMinimumWidth(1);
    splitter_->addWidget(sidebar_);
    splitter_->addWidget(detail_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({230, 10000});
    layout->addWidget(splitter_);
    dropOverlay_ = new DropOverlay(this);

    // A workspace is made when it is first shown or asked for, and lives as long as the window:
    // the first picture waits for one page only, and a page's services (and the modules they
    // load) start when the page is used.
    makers_[WorkspaceSection::remux] = [this, locations, preferences] {
        return std::make_unique<RemuxWorkspacePage>(queue_, locations, preferences, this);
    };
    makers_[WorkspaceSection::join] = [this, locations] {
        return makeJoinPage(queue_, locations, this);
    };
    makers_[WorkspaceSection::split] = [this, locations] {
        return makeSplitPage(queue_, locations, this);
    };
    makers_[WorkspaceSection::rename] = [this] { return makeRenamePage(this); };
    makers_[WorkspaceSection::transcribe] = [this, locations, preferences] {
        return std::make_unique<TranscriptionWorkspacePage>(queue_, locations, preferences,
                                                            transcriptionPreviewService_, this);
    };
    makers_[WorkspaceSection::queue] = [this] {
        return std::make_unique<QueueWorkspacePage>(queue_);
    };

    connect(sidebar_, &MainNavigationSidebar::sectionClicked, this, &RootView::select);
    connect(sidebar_, &MainNavigationSidebar::settingsRequested, this,
            &RootView::settingsRequested);
    connect(&queue_, &JobQueueViewModel::changed, this, &RootView::updateQueueCount);
    updateQueueCount();
    showSection();
}

RemuxIntentParserAvailability RootView::remuxIntentParserAvailability() const {
    if (auto* page = dynamic_cast<RemuxWorkspacePage*>(workspacePage(WorkspaceSection::remux))) {
        return page->viewModel().intentParser().availability();
    }
    return RemuxIntentParserAvailability::unavailable(
        std::string(RemuxPlanVocabulary::deviceNotEligibleMessage));
}

RootView::~RootView() {
    // Pages delete their views before their view models.
    pages_.clear();
}

void RootView::setWorkspacePage(WorkspaceSection section, std::unique_ptr<WorkspacePage> page) {
    makers_.erase(section);
    auto& slot = pages_[section];
    slot = std::move(page);
    detail_->addWidget(slot->view());
    showSection();
}

WorkspacePage* RootView::workspacePage(WorkspaceSection section) const {
    if (auto found = pages_.find(section); found != pages_.end()) {
        return found->second.get();
    }
    auto maker = makers_.find(section);
    if (maker == makers_.end()) {
        return nullptr;
    }
    const auto make = std::move(maker->second);
    makers_.erase(maker);
    auto& slot = pages_[section];
    slot = make();
    detail_->addWidget(slot->view());
    return slot.get();
}

WorkspaceSection RootView::shownSection() const {
    return selection_.value_or(WorkspaceSection::remux);
}

void RootView::select(WorkspaceSection section) {
    if (selection_ == section) {
        return;
    }
    selection_ = section;
    workspaceSelectionStore_.save(section);
    showSection();
}

void RootView::showSection() {
    sidebar_->setSelection(selection_);
    if (WorkspacePage* page = workspacePage(shownSection())) {
        detail_->setCurrentWidget(page->view());
    }
}

void RootView::updateQueueCount() {
    sidebar_->setQueueCount(queue_.activeJobCount());
}

bool RootView::handleDrop(const QList<QUrl>& urls) {
    if (shownSection() == WorkspaceSection::queue) {
        return false;
    }
    std::vector<std::filesystem::path> files;
    for (const QUrl& url : urls) {
        if (auto path = localFilePath(url)) {
            files.push_back(std::move(*path));
        }
    }
    WorkspacePage* page = workspacePage(shownSection());
    return page && !files.empty() && page->addFiles(files);
}

void RootView::setDropTargeted(bool targeted) {
    isDropTargeted_ = targeted;
    dropOverlay_->setVisible(targeted && shownSection() != WorkspaceSection::queue);
    if (dropOverlay_->isVisible()) {
        dropOverlay_->setGeometry(rect());
        dropOverlay_->raise();
    }
}

void RootView::dragEnterEvent(QDragEnterEvent* event) {
    if (shownSection() == WorkspaceSection::queue || !carriesLocalFiles(*event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropTargeted(true);
}

void RootView::dragMoveEvent(QDragMoveEvent* event) {
    if (shownSection() == WorkspaceSection::queue || !carriesLocalFiles(*event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void RootView::dragLeaveEvent(QDragLeaveEvent* event) {
    setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void RootView::dropEvent(QDropEvent* event) {
    setDropTargeted(false);
    if (event->mimeData()->hasUrls() && handleDrop(event->mimeData()->urls())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void RootView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    dropOverlay_->setGeometry(rect());
}

}  // namespace tavrolin
