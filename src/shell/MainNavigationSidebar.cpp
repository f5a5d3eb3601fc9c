#include "shell/MainNavigationSidebar.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "widgets/AppStyle.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

namespace {

constexpr int rowPaddingX = 10;
constexpr int rowPaddingY = 7;
constexpr int iconWidth = 18;
constexpr int spacing = 9;

}  // namespace

SidebarRow::SidebarRow(WorkspaceSection section, QWidget* parent)
    : QAbstractButton(parent), section_(section) {
    setObjectName(QString::fromLatin1(rawValue(section).data(),
                                      static_cast<qsizetype>(rawValue(section).size())));
    setText(title(section));
    setIcon(symbolIcon(symbolName(section)));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(title(section));
}

void SidebarRow::setSelected(bool selected) {
    if (selected_ == selected) {
        return;
    }
    selected_ = selected;
    // Qt widgets have no accessibility value; the description carries it.
    setAccessibleDescription(selected ? QStringLiteral("Selected") : QString());
    update();
}

void SidebarRow::setBadgeCount(int count) {
    if (badgeCount_ == count) {
        return;
    }
    badgeCount_ = count;
    update();
}

QString SidebarRow::badgeText() const {
    return badgeCount_ >= 1 ? QString::number(badgeCount_) : QString();
}

void SidebarRow::keyPressEvent(QKeyEvent* event) {
    // A row opens its page with Return or Enter as well as Space, as a list item would.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

QSize SidebarRow::sizeHint() const {
    const QFontMetrics metrics(font());
    return {rowPaddingX * 2 + iconWidth + spacing + metrics.horizontalAdvance(text()) + 40,
            std::max(metrics.height(), iconWidth) + rowPaddingY * 2};
}

void SidebarRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette palette = this->palette();
    QColor foreground = palette.color(QPalette::WindowText);
    if (selected_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(accentColor(palette));
        painter.drawRoundedRect(QRectF(rect()), 7, 7);
        foreground = Qt::white;
    }
    if (hasFocus()) {
        drawFocusMark(painter, QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), palette, selected_);
    }

    QRect content = rect().adjusted(rowPaddingX, rowPaddingY, -rowPaddingX, -rowPaddingY);
    const QRect iconRect(content.left(), content.center().y() - 8, iconWidth, 16);
    icon().paint(&painter, iconRect, Qt::AlignCenter, selected_ ? QIcon::Selected : QIcon::Normal);
    content.setLeft(iconRect.right() + 1 + spacing);

    const QString badge = badgeText();
    if (!badge.isEmpty()) {
        QFont badgeFont = fontFor(TextStyle::caption);
        badgeFont.setStyleHint(QFont::Monospace);
        const QFontMetrics metrics(badgeFont);
        const int width = metrics.horizontalAdvance(badge) + 14;
        const int height = metrics.height() + 4;
        const QRect capsule(content.right() - width + 1, content.center().y() - height / 2, width,
                            height);
        QColor fill = foreground;
        fill.setAlphaF(0.12f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(capsule), height / 2.0, height / 2.0);
        painter.setFont(badgeFont);
        painter.setPen(foreground);
        painter.drawText(capsule, Qt::AlignCenter, badge);
        content.setRight(capsule.left() - spacing);
    }
    painter.setFont(font());
    painter.setPen(foreground);
    painter.drawText(content, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                     fontMetrics().elidedText(text(), Qt::ElideRight, content.width()));
}

MainNavigationSidebar::MainNavigationSidebar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("sidebar"));
    setMinimumWidth(210);
    setMaximumWidth(260);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* scroll = new QScrollArea(this);
    // The rows take the focus, and a Tab onto a row scrolls it into view; the area is no stop.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setAccessibleName(QStringLiteral("Workspaces"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* list = new QWidget(scroll);
    auto* entries = new QVBoxLayout(list);
    entries->setContentsMargins(0, 8, 0, 0);
    entries->setSpacing(0);
    QString group;
    for (WorkspaceSection section : allWorkspaceSections) {
        if (sidebarGroup(section) != group) {
            group = sidebarGroup(section);
            auto* header = new QLabel(group, list);
            header->setObjectName(QStringLiteral("groupHeader"));
            header->setTextFormat(Qt::PlainText);
            header->setFont(fontFor(TextStyle::caption, QFont::DemiBold));
            header->setContentsMargins(14, 14, 14, 5);
            setTextColor(header, secondaryTextColor(palette()));
            entries->addWidget(header);
        }
        auto* row = new SidebarRow(section, list);
        connect(row, &SidebarRow::clicked, this, [this, section] { emit sectionClicked(section); });
        auto* padded = new QHBoxLayout;
        padded->setContentsMargins(8, 0, 8, 0);
        padded->addWidget(row);
        entries->addLayout(padded);
        rows_[section] = row;
    }
    entries->addStretch(1);
    scroll->setWidget(list);
    column->addWidget(scroll, 1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setEnabled(false);
    column->addWidget(divider);

    settings_ =
        new QPushButton(symbolIcon(QStringLiteral("gearshape")), QStringLiteral("Settings"), this);
    settings_->setObjectName(QStringLiteral("settingsLink"));
    settings_->setFlat(true);
    settings_->setCursor(Qt::PointingHandCursor);
    settings_->setStyleSheet(QStringLiteral("text-align: left; padding: 12px;"));
    connect(settings_, &QPushButton::clicked, this, &MainNavigationSidebar::settingsRequested);
    column->addWidget(settings_);
}

void MainNavigationSidebar::setSelection(std::optional<WorkspaceSection> selection) {
    for (auto& [section, row] : rows_) {
        row->setSelected(selection == section);
    }
}

void MainNavigationSidebar::setQueueCount(int count) {
    for (auto& [section, row] : rows_) {
        row->setBadgeCount(section == WorkspaceSection::queue ? count : 0);
    }
}

}  // namespace tavrolin
