#include "widgets/FeatureHeader.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "widgets/AppStyle.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

namespace {

// 44 x 44 tile: the symbol at 24 px in the accent colour on a faint accent rounded square.
class SymbolTile : public QWidget {
  public:
    SymbolTile(const QString& symbol, QWidget* parent) : QWidget(parent), symbol_(symbol) {
        setFixedSize(44, 44);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = accentColor(palette());
        fill.setAlphaF(0.12f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(rect(), 11, 11);
        const QIcon icon = tintedSymbolIcon(symbol_, accentColor(palette()));
        icon.paint(&painter, QRect(10, 10, 24, 24));
    }

  private:
    QString symbol_;
};

}  // namespace

FeatureHeader::FeatureHeader(const QString& title, const QString& subtitle, const QString& symbol,
                             QWidget* parent)
    : QWidget(parent), symbol_(symbol) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    row->addWidget(new SymbolTile(symbol, this), 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    title_ = new QLabel(title, this);
    title_->setObjectName(QStringLiteral("title"));
    title_->setTextFormat(Qt::PlainText);
    title_->setFont(fontFor(TextStyle::title2, QFont::DemiBold));
    texts->addWidget(title_);
    subtitle_ = new QLabel(subtitle, this);
    subtitle_->setObjectName(QStringLiteral("subtitle"));
    subtitle_->setTextFormat(Qt::PlainText);
    subtitle_->setWordWrap(true);
    setTextColor(subtitle_, secondaryTextColor(palette()));
    texts->addWidget(subtitle_);
    row->addLayout(texts, 1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
}

QString FeatureHeader::title() const {
    return title_->text();
}

QString FeatureHeader::subtitle() const {
    return subtitle_->text();
}

}  // namespace tavrolin
