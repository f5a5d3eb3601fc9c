#include "app/SymbolIcons.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>

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

QPixmap renderTinted(QSvgRenderer& renderer, int size, qreal ratio, const QColor& color) {
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(0, 0, size, size), color);
    return pixmap;
}

QIcon buildTinted(const QString& symbol, const QColor& normal, const QColor& selected) {
    QSvgRenderer renderer(bundledPath(symbol));
    if (!renderer.isValid()) {
        return {};
    }
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QIcon icon;
    for (int size : {16, 18, 22, 24, 32, 44, 48}) {
        icon.addPixmap(renderTinted(renderer, size, ratio, normal), QIcon::Normal);
        icon.addPixmap(renderTinted(renderer, size, ratio, selected), QIcon::Selected);
        QColor disabled = normal;
        disabled.setAlphaF(0.35f);
        icon.addPixmap(renderTinted(renderer, size, ratio, disabled), QIcon::Disabled);
    }
    return icon;
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

QIcon symbolIcon(const QString& symbol) {
    static QHash<QString, QIcon> cache;
    auto found = cache.constFind(symbol);
    if (found != cache.constEnd()) {
        return *found;
    }
    QIcon icon;
    const QString themeName = themeIconName(symbol);
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName)) {
        icon = QIcon::fromTheme(themeName);
    } else {
        const QPalette palette = qApp ? QApplication::palette() : QPalette();
        icon = buildTinted(symbol, palette.color(QPalette::WindowText),
                           palette.color(QPalette::HighlightedText));
    }
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
