#include "widgets/ContentUnavailableView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "widgets/AppStyle.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

ContentUnavailableView::ContentUnavailableView(const QString& title, const QString& symbol,
                                               const QString& description, QWidget* parent)
    : QWidget(parent), symbol_(symbol) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(6);
    layout->addStretch(1);

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("symbol"));
    image->setAlignment(Qt::AlignCenter);
    image->setPixmap(tintedSymbolIcon(symbol, secondaryTextColor(palette())).pixmap(QSize(44, 44)));
    layout->addWidget(image);

    title_ = new QLabel(title, this);
    title_->setObjectName(QStringLiteral("title"));
    title_->setTextFormat(Qt::PlainText);
    title_->setAlignment(Qt::AlignCenter);
    title_->setFont(fontFor(TextStyle::title2, QFont::DemiBold));
    layout->addWidget(title_);

    description_ = new QLabel(description, this);
    description_->setObjectName(QStringLiteral("description"));
    description_->setTextFormat(Qt::PlainText);
    description_->setAlignment(Qt::AlignCenter);
    description_->setWordWrap(true);
    setTextColor(description_, secondaryTextColor(palette()));
    layout->addWidget(description_);
    layout->addStretch(1);
}

QString ContentUnavailableView::title() const {
    return title_->text();
}

QString ContentUnavailableView::description() const {
    return description_->text();
}

}  // namespace tavrolin
