#include "widgets/SymbolIcons.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>
#include <algorithm>
#include <memory>
#include <optional>

// The resources live in a static library, so they are registered explicitly.
static void initTavrolinResources() {
    Q_INIT_RESOURCE(tavrolin);
}

namespace tavrolin {

namespace tint {
QColor orange() {
    return QColor(0xF0, 0x8A, 0x00);
}
QColor green() {
    return QColor(0x2E, 0xA0, 0x43);
}
QColor red() {
    return QColor(0xD9, 0x30, 0x25);
}
QColor blue() {
    return QColor(0x1F, 0x6F, 0xEB);
}
}  // namespace tint

namespace {

QString bundledPath(const QString& symbol) {
    static const bool registered = [] {
        initTavrolinResources();
        return true;
    }();
    (void)registered;
    return QStringLiteral(":/tavrolin/icons/%1.svg").arg(symbol);
}

// A bundled drawing tinted per mode, drawn at the size asked for when first asked: a window full
// of icons costs only the pictures it shows. Clones share the drawing and the pictures.
class TintedSymbolEngine : public QIconEngine {
  public:
    TintedSymbolEngine(std::shared_ptr<QSvgRenderer> drawing, QColor normal, QColor selected)
        : drawing_(std::move(drawing)),
          normal_(std::move(normal)),
          selected_(std::move(selected)),
          pictures_(std::make_shared<QHash<QString, QPixmap>>()) {}

    QIconEngine* clone() const override { return new TintedSymbolEngine(*this); }
    bool isNull() override { return false; }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {24, 24}, {32, 32}, {48, 48}};
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        const int side = std::min(size.width(), size.height());
        if (side <= 0) {
            return {};
        }
        const QString key = QStringLiteral("%1|%2|%3").arg(side).arg(scale).arg(int(mode));
        if (auto found = pictures_->constFind(key); found != pictures_->constEnd()) {
            return *found;
        }
        QColor color = mode == QIcon::Selected ? selected_ : normal_;
        if (mode == QIcon::Disabled) {
            color.setAlphaF(0.35f);
        }
        QPixmap picture(QSize(side, side) * scale);
        picture.setDevicePixelRatio(scale);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        drawing_->render(&painter, QRectF(0, 0, side, side));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(0, 0, side, side), color);
        painter.end();
        pictures_->insert(key, picture);
        return picture;
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, scale));
    }

  private:
    std::shared_ptr<QSvgRenderer> drawing_;
    QColor normal_;
    QColor selected_;
    std::shared_ptr<QHash<QString, QPixmap>> pictures_;
};

QIcon buildTinted(const QString& symbol, const QColor& normal, const QColor& selected) {
    auto drawing = std::make_shared<QSvgRenderer>(bundledPath(symbol));
    if (!drawing->isValid()) {
        return {};
    }
    return QIcon(new TintedSymbolEngine(std::move(drawing), normal, selected));
}

}  // namespace

QString themeIconName(const QString& symbol) {
    static const QHash<QString, QString> names{
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("view-refresh")},
        {QStringLiteral("scissors"), QStringLiteral("edit-cut")},
        {QStringLiteral("character.cursor.ibeam"), QStringLiteral("insert-text")},
        {QStringLiteral("gearshape"), QStringLiteral("preferences-system")},
        {QStringLiteral("film"), QStringLiteral("video-x-generic")},
        {QStringLiteral("film.stack"), QStringLiteral("video-x-generic")},
        {QStringLiteral("chevron.up"), QStringLiteral("go-up")},
        {QStringLiteral("chevron.down"), QStringLiteral("go-down")},
        {QStringLiteral("xmark"), QStringLiteral("list-remove")},
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start")},
        {QStringLiteral("pause.fill"), QStringLiteral("media-playback-pause")},
        {QStringLiteral("backward.frame.fill"), QStringLiteral("media-skip-backward")},
        {QStringLiteral("forward.frame.fill"), QStringLiteral("media-skip-forward")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning")},
        {QStringLiteral("questionmark.circle"), QStringLiteral("help-browser")},
        {QStringLiteral("envelope"), QStringLiteral("mail-message-new")},
        {QStringLiteral("waveform"), QStringLiteral("audio-x-generic")},
        {QStringLiteral("plus"), QStringLiteral("list-add")},
        {QStringLiteral("info.circle"), QStringLiteral("dialog-information")},
    };
    return names.value(symbol);
}

bool hasBundledSymbol(const QString& symbol) {
    return QFile::exists(bundledPath(symbol));
}

namespace {

// The theme's icon when it has one, else the bundled drawing tinted with the palette's text
// colour (white when selected).
QIcon resolvedSymbolIcon(const QString& symbol) {
    const QString themeName = themeIconName(symbol);
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName)) {
        return QIcon::fromTheme(themeName);
    }
    const QPalette palette = qApp ? QApplication::palette() : QPalette();
    return buildTinted(symbol, palette.color(QPalette::WindowText),
                       palette.color(QPalette::HighlightedText));
}

// Stands for a symbol that has a bundled drawing until the icon is first drawn or measured. The
// theme's first lookup reads its index files, several milliseconds that would otherwise hold up
// the window's first appearance. Clones share the answer.
class DeferredSymbolEngine : public QIconEngine {
  public:
    explicit DeferredSymbolEngine(QString symbol)
        : state_(std::make_shared<State>(State{std::move(symbol), std::nullopt})) {}

    QIconEngine* clone() const override { return new DeferredSymbolEngine(*this); }
    bool isNull() override { return false; }  // the bundled drawing stands in at worst
    QString iconName() override { return icon().name(); }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        return icon().pixmap(size, scale, mode, state);
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }

  private:
    struct State {
        QString symbol;
        std::optional<QIcon> icon;
    };

    const QIcon& icon() {
        if (!state_->icon) {
            state_->icon = resolvedSymbolIcon(state_->symbol);
        }
        return *state_->icon;
    }

    std::shared_ptr<State> state_;
};

}  // namespace

QIcon symbolIcon(const QString& symbol) {
    static QHash<QString, QIcon> cache;
    auto found = cache.constFind(symbol);
    if (found != cache.constEnd()) {
        return *found;
    }
    // Without a drawing there is nothing to defer to: ask the theme now, so that a missing
    // drawing is reported where the symbol is named.
    const QIcon icon = hasBundledSymbol(symbol) ? QIcon(new DeferredSymbolEngine(symbol))
                                                : resolvedSymbolIcon(symbol);
    cache.insert(symbol, icon);
    return icon;
}

QIcon tintedSymbolIcon(const QString& symbol, const QColor& color) {
    static QHash<QString, QIcon> cache;
    const QString key = symbol + QLatin1Char('|') + color.name(QColor::HexArgb);
    auto found = cache.constFind(key);
    if (found != cache.constEnd()) {
        return *found;
    }
    QIcon icon = buildTinted(symbol, color, color);
    cache.insert(key, icon);
    return icon;
}

}  // namespace tavrolin
