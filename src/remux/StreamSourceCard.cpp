#include "remux/StreamSourceCard.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "widgets/AppStyle.h"
#include "widgets/ElidedLabel.h"
#include "widgets/RemuxSymbols.h"
#include "widgets/RetiredWidget.h"
#include "widgets/SymbolIcons.h"
#include "widgets/TabOrder.h"
#include "widgets/WrappingLabel.h"

namespace tavrolin {

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QString kindName(MediaStreamKind kind) {
    QString name = QString::fromLatin1(rawValue(kind).data(), int(rawValue(kind).size()));
    name[0] = name[0].toUpper();
    return name;
}

QString kindSymbol(MediaStreamKind kind) {
    switch (kind) {
        case MediaStreamKind::video:
            return QStringLiteral("film");
        case MediaStreamKind::audio:
            return QStringLiteral("waveform");
        case MediaStreamKind::subtitle:
            return QStringLiteral("captions.bubble");
    }
    return {};
}

// The shared shape of badges and notes: a small capsule tinted at 12 %. Painted rather than
// styled: style sheets are costly with hundreds of cards.
class Pill : public QWidget {
  public:
    explicit Pill(const QColor& fill) : fill_(fill) { fill_.setAlphaF(0.12f); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill_);
        const qreal radius = height() / 2.0;
        painter.drawRoundedRect(QRectF(rect()), radius, radius);
    }

  private:
    QColor fill_;
};

QWidget* makePill(const QString& name, const QString& text, const QString& symbol,
                  const std::optional<QColor>& textColor, const QColor& fill,
                  const QString& toolTip) {
    auto* pill = new Pill(fill);
    pill->setObjectName(name);
    pill->setProperty("symbol", symbol);
    pill->setToolTip(toolTip);
    pill->setAccessibleName(text);
    pill->setAccessibleDescription(toolTip);
    auto* layout = new QHBoxLayout(pill);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(3);
    QFont font = fontFor(TextStyle::caption, QFont::Medium);
    font.setPointSizeF(font.pointSizeF() * 0.92);
    if (!symbol.isEmpty()) {
        auto* icon = new QLabel;
        icon->setPixmap(remuxSymbolPixmap(symbol, textColor.value_or(fill), 11));
        layout->addWidget(icon);
    }
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("text"));
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    if (textColor) {
        setTextColor(label, *textColor);
    }
    layout->addWidget(label);
    return pill;
}

QLabel* captionLabel(const QString& text, const QPalette& palette) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(fontFor(TextStyle::caption));
    setTextColor(label, secondaryTextColor(palette));
    return label;
}

const std::vector<MediaStream>* readyStreams(const RemuxSource& source) {
    if (const auto* ready = std::get_if<RemuxSource::Ready>(&source.inspectionState)) {
        return &ready->streams;
    }
    return nullptr;
}

}  // namespace

StreamSourceCard::StreamSourceCard(QWidget* parent) : QGroupBox(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(10);
    auto* symbol = new QLabel;
    symbol->setObjectName(QStringLiteral("fileSymbol"));
    symbol->setPixmap(remuxSymbolPixmap(QStringLiteral("film"), secondaryTextColor(palette()), 18));
    titleRow->addWidget(symbol);

    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    fileName_ = new ElidedLabel(this);
    fileName_->setObjectName(QStringLiteral("fileName"));
    fileName_->setFont(fontFor(TextStyle::headline));
    folder_ = new ElidedLabel(this);
    folder_->setObjectName(QStringLiteral("folder"));
    folder_->setFont(fontFor(TextStyle::caption));
    folder_->setTextColor(secondaryTextColor(palette()));
    names->addWidget(fileName_);
    names->addWidget(folder_);
    titleRow->addLayout(names, 1);

    selectedCount_ = captionLabel({}, palette());
    selectedCount_->setObjectName(QStringLiteral("selectedCount"));
    titleRow->addWidget(selectedCount_);

    removeButton_ = new QToolButton;
    removeButton_->setObjectName(QStringLiteral("removeButton"));
    removeButton_->setAutoRaise(true);
    removeButton_->setIcon(remuxSymbolIcon(QStringLiteral("xmark")));
    removeButton_->setToolTip(QStringLiteral("Remove source file"));
    connect(removeButton_, &QToolButton::clicked, this, [this] {
        if (onRemove) {
            onRemove();
        }
    });
    titleRow->addWidget(removeButton_);
    layout->addLayout(titleRow);

    contentLayout_ = new QVBoxLayout;
    contentLayout_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(contentLayout_);
}

bool StreamSourceCard::needsRebuild(const RemuxSource& source,
                                    const std::map<std::int64_t, std::string>& unsupported,
                                    const std::map<std::int64_t, std::string>& converted) const {
    return !hasContent_ || source.url != source_.url ||
           source.inspectionState != source_.inspectionState ||
           unsupported != unsupportedStreamMessages_ || converted != convertedSubtitleCodecs_;
}

void StreamSourceCard::setContent(const RemuxSource& source,
                                  const std::map<std::int64_t, std::string>& unsupported,
                                  const std::map<std::int64_t, std::string>& converted) {
    const bool sameContent = !needsRebuild(source, unsupported, converted);
    const bool sameSelection = source.selectedStreamIndices == source_.selectedStreamIndices;
    if (sameContent && sameSelection) {
        return;
    }
    source_ = source;
    unsupportedStreamMessages_ = unsupported;
    convertedSubtitleCodecs_ = converted;
    hasContent_ = true;
    if (sameContent) {
        // Only the ticks changed: no need to build the rows again.
        for (auto* box : content_->findChildren<QCheckBox*>()) {
            box->setChecked(
                source_.selectedStreamIndices.contains(box->property("streamIndex").toLongLong()));
        }
    } else {
        rebuildContent();
    }
    updateTitle();
}

void StreamSourceCard::updateTitle() {
    fileName_->setText(toQString(source_.url.filename()));
    setAccessibleName(fileName_->text());
    // Every card has one: the name says which file it takes away.
    removeButton_->setAccessibleName(QStringLiteral("Remove ") + fileName_->text());
    folder_->setText(toQString(source_.url.parent_path()));
    if (const auto* streams = readyStreams(source_)) {
        const auto selected = std::count_if(streams->begin(), streams->end(), [&](const auto& s) {
            return source_.selectedStreamIndices.contains(s.index);
        });
        // A ticked stream the output cannot take is not counted as kept.
        const auto omitted = std::count_if(streams->begin(), streams->end(), [&](const auto& s) {
            return source_.selectedStreamIndices.contains(s.index) &&
                   unsupportedStreamMessages_.contains(s.index);
        });
        QString count =
            QStringLiteral("%1 of %2 selected").arg(selected - omitted).arg(streams->size());
        if (omitted > 0) {
            count += QStringLiteral(", %1 will be omitted").arg(omitted);
        }
        selectedCount_->setText(count);
    } else {
        // Emptied, not hidden: showing a widget inside a shown card lays out every card.
        selectedCount_->clear();
    }
}

void StreamSourceCard::rebuildContent() {
    // Never reparented away: taking a subtree out of a window walks the window's whole focus
    // chain, which is slow with hundreds of cards. Deleted later: one of its buttons may still
    // be signalling, or a screen reader still holding its rows.
    retireWidget(content_);
    content_ = new QWidget(this);
    content_->setObjectName(QStringLiteral("content"));
    auto* layout = new QVBoxLayout(content_);
    layout->setContentsMargins(0, 0, 0, 0);

    if (std::holds_alternative<RemuxSource::Loading>(source_.inspectionState)) {
        auto* row = new QHBoxLayout;
        row->setContentsMargins(0, 14, 0, 14);
        row->setSpacing(10);
        auto* progress = new QProgressBar;
        progress->setObjectName(QStringLiteral("inspectionProgress"));
        progress->setRange(0, 0);
        progress->setMaximumWidth(60);
        progress->setMaximumHeight(8);
        progress->setTextVisible(false);
        row->addWidget(progress);
        auto* text =
            new QLabel(QStringLiteral("Inspecting video, audio, and subtitle streams\u2026"));
        text->setObjectName(QStringLiteral("loadingText"));
        setTextColor(text, secondaryTextColor(palette()));
        row->addWidget(text);
        row->addStretch(1);
        layout->addLayout(row);
    } else if (const auto* failed = std::get_if<RemuxSource::Failed>(&source_.inspectionState)) {
        auto* row = new QHBoxLayout;
        row->setContentsMargins(0, 10, 0, 10);
        row->setSpacing(10);
        auto* symbol = new QLabel;
        symbol->setObjectName(QStringLiteral("failedSymbol"));
        symbol->setPixmap(
            remuxSymbolPixmap(QStringLiteral("exclamationmark.triangle.fill"), tint::orange(), 16));
        row->addWidget(symbol, 0, Qt::AlignTop);
        // A long file name in it neither widens the card nor pushes its buttons off the page.
        auto* message = new WrappingLabel(qt(failed->message));
        message->setObjectName(QStringLiteral("failedMessage"));
        message->setFont(fontFor(TextStyle::callout));
        message->setMaximumLineCount(4);
        message->setToolTip(plainToolTip(message->text()));
        row->addWidget(message, 1);
        if (failed->retryMayHelp) {
            auto* retry = new QPushButton(QStringLiteral("Try Again"));
            retry->setObjectName(QStringLiteral("tryAgainButton"));
            retry->setAccessibleName(QStringLiteral("Inspect ") +
                                     toQString(source_.url.filename()) + QStringLiteral(" again"));
            connect(retry, &QPushButton::clicked, this, [this] {
                if (onRetry) {
                    onRetry();
                }
            });
            row->addWidget(retry, 0, Qt::AlignTop);
        }
        layout->addLayout(row);
    } else if (const auto* streams = readyStreams(source_)) {
        std::vector<MediaStreamKind> kinds;
        for (auto kind : allMediaStreamKinds) {
            if (std::any_of(streams->begin(), streams->end(),
                            [&](const MediaStream& s) { return s.kind == kind; })) {
                kinds.push_back(kind);
            }
        }
        // Every row shows: the card grows with them and the page scrolls, not the card.
        auto* list = new QWidget;
        list->setObjectName(QStringLiteral("streamList"));
        auto* column = new QVBoxLayout(list);
        column->setSpacing(0);
        column->setContentsMargins(0, 0, 0, 0);
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            if (k > 0) {
                auto* divider = new QFrame;
                divider->setObjectName(QStringLiteral("divider"));
                divider->setFrameShape(QFrame::HLine);
                divider->setFrameShadow(QFrame::Sunken);
                column->addSpacing(8);
                column->addWidget(divider);
                column->addSpacing(8);
            }
            auto* group = new QWidget;
            group->setObjectName(QStringLiteral("group-") + qt(std::string(rawValue(kinds[k]))));
            auto* groupLayout = new QVBoxLayout(group);
            groupLayout->setContentsMargins(0, 4, 6, 4);
            groupLayout->setSpacing(6);
            std::size_t count = 0;
            for (const auto& stream : *streams) {
                count += stream.kind == kinds[k] ? 1 : 0;
            }
            groupLayout->addWidget(makeGroupHeader(kinds[k], count));
            for (const auto& stream : *streams) {
                if (stream.kind == kinds[k]) {
                    groupLayout->addWidget(makeStreamRow(stream));
                }
            }
            column->addWidget(group);
        }
        layout->addWidget(list);
    }
    contentLayout_->addWidget(content_);
    // Made after the card's other controls, the rows would come last on Tab.
    placeTabStops(removeButton_, content_);
    // Shown now rather than by the layout's queued show: the caller then sees what the rows
    // cost, and many rebuilt cards never pile up in one turn of the event loop.
    if (isVisible()) {
        content_->show();
    }
}

QWidget* StreamSourceCard::makeGroupHeader(MediaStreamKind kind, std::size_t count) {
    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("header"));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("kindSymbol"));
    icon->setProperty("symbol", kindSymbol(kind));
    icon->setPixmap(remuxSymbolIcon(kindSymbol(kind)).pixmap(QSize(14, 14)));
    row->addWidget(icon);
    auto* name = new QLabel(kindName(kind));
    name->setObjectName(QStringLiteral("kindName"));
    QFont font = fontFor(TextStyle::callout, QFont::DemiBold);
    name->setFont(font);
    row->addWidget(name);
    auto* number = captionLabel(QString::number(count), palette());
    number->setObjectName(QStringLiteral("kindCount"));
    row->addWidget(number);
    row->addStretch(1);
    const QString streams = kindName(kind).toLower() + QStringLiteral(" streams of ") +
                            toQString(source_.url.filename());
    for (const bool included : {true, false}) {
        auto* button = new QPushButton(included ? QStringLiteral("All") : QStringLiteral("None"));
        // Every group of every card has a pair: the names say which streams they pick.
        button->setAccessibleName(
            (included ? QStringLiteral("Select all ") : QStringLiteral("Select no ")) + streams);
        button->setObjectName(included ? QStringLiteral("allButton")
                                       : QStringLiteral("noneButton"));
        button->setFlat(true);
        button->setCursor(Qt::PointingHandCursor);
        QPalette linkPalette = button->palette();
        linkPalette.setColor(QPalette::ButtonText, linkPalette.color(QPalette::Link));
        button->setPalette(linkPalette);
        connect(button, &QPushButton::clicked, this, [this, kind, included] {
            if (onSetStreams) {
                onSetStreams(kind, included);
            }
        });
        row->addWidget(button);
    }
    return header;
}

QWidget* StreamSourceCard::makeStreamRow(const MediaStream& stream) {
    auto* rowWidget = new QWidget;
    rowWidget->setObjectName(QStringLiteral("stream-%1").arg(stream.index));
    rowWidget->setAccessibleName(qt(stream.displayTitle()));
    auto* row = new QHBoxLayout(rowWidget);
    row->setContentsMargins(0, 3, 0, 3);
    row->setSpacing(8);

    auto* box = new QCheckBox;
    box->setObjectName(QStringLiteral("checkBox"));
    box->setProperty("streamIndex", QVariant::fromValue<qlonglong>(stream.index));
    box->setChecked(source_.selectedStreamIndices.contains(stream.index));
    box->setAccessibleName(qt(stream.displayTitle()));
    const auto index = stream.index;
    // Any click is a flip request; the box goes back to the shown selection until the model's
    // answer arrives with the next content.
    connect(box, &QCheckBox::clicked, this, [this, box, index] {
        box->setChecked(source_.selectedStreamIndices.contains(index));
        if (onToggleStream) {
            onToggleStream(index);
        }
    });
    row->addWidget(box);

    auto* number = captionLabel(QStringLiteral("#%1").arg(stream.index), palette());
    number->setObjectName(QStringLiteral("index"));
    number->setFixedWidth(26);
    number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(number);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = new ElidedLabel(rowWidget, Qt::ElideRight);
    title->setObjectName(QStringLiteral("displayTitle"));
    title->setText(qt(stream.displayTitle()));
    texts->addWidget(title);
    auto* summary = new ElidedLabel(rowWidget, Qt::ElideRight);
    summary->setObjectName(QStringLiteral("technicalSummary"));
    summary->setFont(fontFor(TextStyle::caption));
    summary->setTextColor(secondaryTextColor(palette()));
    summary->setText(qt(stream.technicalSummary()));
    texts->addWidget(summary);
    row->addLayout(texts, 1);

    const QColor secondary = secondaryTextColor(palette());
    if (stream.isDefault) {
        row->addWidget(makePill(QStringLiteral("defaultBadge"), QStringLiteral("Default"), {},
                                std::nullopt, secondary, {}));
    }
    if (stream.isForced) {
        row->addWidget(makePill(QStringLiteral("forcedBadge"), QStringLiteral("Forced"), {},
                                std::nullopt, secondary, {}));
    }
    if (auto found = unsupportedStreamMessages_.find(stream.index);
        found != unsupportedStreamMessages_.end()) {
        row->addWidget(makePill(QStringLiteral("omittedNote"), QStringLiteral("Will be omitted"),
                                QStringLiteral("exclamationmark.triangle.fill"), tint::orange(),
                                tint::orange(), qt(found->second)));
    }
    if (auto found = convertedSubtitleCodecs_.find(stream.index);
        found != convertedSubtitleCodecs_.end()) {
        row->addWidget(makePill(
            QStringLiteral("convertNote"),
            QStringLiteral("Converts to ") + qt(found->second).toUpper(),
            QStringLiteral("captions.bubble"), tint::blue(), tint::blue(),
            QStringLiteral("Only this subtitle stream will be converted. Video and audio remain "
                           "stream-copy.")));
    }
    return rowWidget;
}

}  // namespace tavrolin
